#include "logo/PreparedLogos.h"

#include "logo/BitmapList.h"

Result<std::shared_ptr<const PreparedLogos>> prepareLogos(const BitmapList& list, const LogoOptions& options)
{
    using R = Result<std::shared_ptr<const PreparedLogos>>;
    auto set = std::make_shared<PreparedLogos>();
    set->items = NvUpload::itemsOf(list, options);
    set->options = options;
    set->predictedBytes = std::uint64_t(list.totalBytes());
    auto pictures = NvUpload::convert(set->items, options);
    if (!pictures)
        return R::failure(pictures.message());
    set->pictures = std::make_shared<const std::vector<LogoPicture>>(std::move(*pictures));
    return R(std::shared_ptr<const PreparedLogos>(std::move(set)));
}
