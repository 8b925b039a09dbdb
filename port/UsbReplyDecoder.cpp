#include "port/UsbReplyDecoder.h"

namespace {
constexpr std::uint8_t kEscape = 0x1B;
}

void UsbReplyDecoder::feed(const std::uint8_t* data, int length, std::vector<std::uint8_t>& out)
{
    for (int i = 0; i < length; ++i) {
        std::uint8_t byte = data[i];
        if (m_pendingEscape) {
            m_pendingEscape = false;
            out.push_back(byte == 0x30 ? 0x00 : byte);
        } else if (byte == kEscape) {
            m_pendingEscape = true;
        } else {
            out.push_back(byte);
        }
    }
}

void UsbReplyDecoder::finish(std::vector<std::uint8_t>& out)
{
    if (m_pendingEscape)
        out.push_back(kEscape);
    m_pendingEscape = false;
}
