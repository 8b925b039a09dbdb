#include "state/StateLogoSet.h"

#include "logo/BitmapList.h"
#include "logo/LogoOptions.h"

Result<std::shared_ptr<const PreparedLogos>> prepareStateLogos(const StateLogos& logos, ModelFamily family,
                                                               Prompter& prompter)
{
    using R = Result<std::shared_ptr<const PreparedLogos>>;
    LogoOptions options = LogoOptions::defaults(family);
    options.maxPrintableArea = std::uint32_t(logos.maxArea);
    options.divergingPoint = logos.diverging;
    options.grayPrinting = logos.gray;
    options.starEmulation = logos.star;
    BitmapList list(prompter, options);
    for (const auto& f : logos.files)
        if (!list.addFile(f.path.string(), 0))
            return R::failure(f.path.string() + ": " + list.lastError() + "; nothing was sent");
    for (int n : logos.center)
        if (int row = list.rowOfNumber(n); row >= 0)
            options.autoCenter[std::size_t(row)] = true;
    auto prepared = prepareLogos(list, options);
    if (!prepared)
        return R::failure(prepared.message() + "; nothing was sent");
    return prepared;
}
