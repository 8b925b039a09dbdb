#include "sim/NvLogoStore.h"

#include "sim/NvPicture.h"

namespace nv_store {

std::string refusal(int xBytes, int yBytes, bool gray)
{
    if (xBytes > kMaxXBytes)
        return "picture " + std::to_string(xBytes * 8) + " dots wide, the head prints " +
               std::to_string(kMaxXBytes * 8);
    if (yBytes > kMaxYBytes)
        return "picture " + std::to_string(yBytes * 8) + " dots high, at most " + std::to_string(kMaxYBytes * 8);
    const std::size_t bytes = NvPicture::dataSize(xBytes, yBytes, gray);
    if (bytes > kMaxPictureBytes)
        return "picture of " + std::to_string(bytes) + " bytes, the picture buffer holds " +
               std::to_string(kMaxPictureBytes);
    return {};
}

} // namespace nv_store
