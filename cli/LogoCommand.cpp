// tavroctl logo raster|preview|list: the logo core from the command line (the printer
// actions upload|clear|print|settings|check|test-receipt register from LogoCommandNv.cpp).
#include "cli/LogoCommand.h"
#include "cli/CliCommand.h"
#include "common/FileIo.h"
#include "cli/JsonLine.h"
#include "cli/CliPrompter.h"

#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/AppPaths.h"
#include "app/Profile.h"
#include "logo/BitmapList.h"
#include "logo/LogoPicture.h"
#include "logo/LogoPreview.h"
#include "logo/LogoRasterizer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

namespace {

std::vector<LogoSubcommandInstaller>& logoSubcommands()
{
    static std::vector<LogoSubcommandInstaller> installers;
    return installers;
}

struct LogoArgs {
    std::string image;
    std::string output;
    bool gray = false;
    bool center = false;
    int maxArea = 0;    // 0: the family's default
    int diverging = LogoOptions::kDefaultDivergingPoint;
    int family = -1;    // -1: from --device, else a wide-paper model
    std::string mode = "normal";
};

ModelFamily familyOf(const CliContext& context, const LogoArgs& args)
{
    if (args.family >= 0)
        return familyOfNumber(args.family);
    if (!context.options.device.empty())
        return familyForOk(context.options.device);
    return ModelFamily::None;
}

LogoOptions optionsOf(const CliContext& context, const LogoArgs& args)
{
    LogoOptions options = LogoOptions::defaults(familyOf(context, args));
    if (args.maxArea > 0)
        options.maxPrintableArea = uint32_t(args.maxArea);
    options.divergingPoint = args.diverging;
    options.grayPrinting = args.gray;
    return options;
}

void addConversionOptions(CLI::App* cmd, LogoArgs& args)
{
    cmd->add_option("IMAGE", args.image, "BMP file")->required();
    cmd->add_option("-o,--output", args.output, "output file")->required();
    cmd->add_flag("--gray", args.gray, "4-bit gray raster (Use Gray Printing)");
    cmd->add_flag("--center", args.center, "auto centre on the printable area (mono only)");
    cmd->add_option("--max-area", args.maxArea, "printable area in dots (default 576, 384 for the TAVRO15)")
        ->check(CLI::Range(1, 576));
    cmd->add_option("--diverging", args.diverging, "black / white diverging point")->check(CLI::Range(0, 255));
    cmd->add_option("--family", args.family, "model family 1..6 (default: from --device)")->check(CLI::Range(0, 6));
}

Result<LogoPicture> convert(const CliContext& context, const LogoArgs& args)
{
    const LogoOptions options = optionsOf(context, args);
    BmpFault fault = BmpFault::None;
    auto picture = rasterizeLogoFile(args.image, options, args.center, &fault);
    if (!picture.ok() && fault == BmpFault::Unsupported)
        return Status::failure(std::string(catalogText(Msg::BitmapFormatNotSupported)) + " (" + picture.message() + ")");
    return picture;
}

Status writeAtomically(const std::string& file, const std::vector<uint8_t>& bytes)
{
    FileOutcome saved =
        writeFileAtomically(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!saved)
        return Status::failure("cannot write " + saved.message);
    return Status::success();
}

int runRaster(const CliContext& context, const LogoArgs& args)
{
    auto picture = convert(context, args);
    if (!picture.ok())
        return cliFail(picture.message());
    Status s = writeAtomically(args.output, picture->uploadBytes());
    if (!s.ok())
        return cliFail(s.message());
    if (context.options.json)
        std::cout << toJsonLine({{"width", picture->widthDots}, {"height", picture->heightDots}, {"gray", picture->gray},
                                 {"bytes", picture->raster.size() + 4}, {"predictedSize", picture->predictedSize}})
                  << "\n";
    else
        std::cout << args.output << ": " << picture->widthDots << " x " << picture->heightDots << " dots, "
                  << picture->raster.size() + 4 << " bytes (header + " << (picture->gray ? "gray" : "mono")
                  << " raster)\n";
    return 0;
}

int runPreview(const CliContext& context, const LogoArgs& args)
{
    LogoPrintMode mode = LogoPrintMode::Normal;
    if (args.mode == "dw")
        mode = LogoPrintMode::DoubleWidth;
    else if (args.mode == "dh")
        mode = LogoPrintMode::DoubleHeight;
    else if (args.mode == "quad")
        mode = LogoPrintMode::Quadruple;
    auto picture = convert(context, args);
    if (!picture.ok())
        return cliFail(picture.message());
    auto image = LogoPreview::render(*picture, mode);
    if (!image.ok())
        return cliFail(image.message());
    Status s = LogoPreview::writePng(args.output, *image);
    if (!s.ok())
        return cliFail(s.message());
    std::cout << args.output << ": " << image->width << " x " << image->height << " dots at "
              << LogoPreview::kDotsPerInch << " dpi\n";
    return 0;
}

int runList(const CliContext& context, bool gray)
{
    const std::filesystem::path profilePath = context.options.profile.empty()
                                                  ? resolveAppPaths(std::filesystem::current_path(), XdgDirs::fromEnvironment()).profile
                                                  : std::filesystem::path(context.options.profile);
    Profile profile(profilePath);
    CliPrompter prompter(context.options.yes);
    LogoOptions options = LogoOptions::defaults(context.options.device.empty() ? ModelFamily::None : familyForOk(context.options.device));
    options.grayPrinting = gray;
    BitmapList list(prompter, options);
    list.restoreFromLog(profile);

    if (context.options.json) {
        OrderedJson pictures = OrderedJson::array();
        for (int row = 0; row < list.fileCount(); ++row) {
            const auto& e = list.entries()[std::size_t(row)];
            pictures.push_back(OrderedJson{{"number", list.imageNumber(row)}, {"name", e.name},
                                           {"size", list.sizeBytes(row)}, {"path", e.path}});
        }
        std::cout << toJsonLine({{"pictures", std::move(pictures)}, {"failedLogEntries", list.failedLogEntries()},
                                 {"count", list.fileCount()}, {"totalBytes", list.totalBytes()},
                                 {"usedKB", list.usedKB()}, {"limitKB", BitmapList::kNvLimitKB}})
                  << "\n";
        return 0;
    }
    std::printf("   No.  %-32s %15s\n", "Name", "Size");
    for (int row = 0; row < list.fileCount(); ++row) {
        const auto& e = list.entries()[std::size_t(row)];
        std::printf("   %s  %-32s %s\n", e.number.c_str(), e.name.c_str(), e.size.c_str());
    }
    std::printf("Number of Image Files  %s\n", list.countText().c_str());
    std::printf("Total Image File Size  %s\n", list.sizeText().c_str());
    if (!list.failedLogEntries().empty()) {
        std::printf("Unusable log entries:");
        for (int n : list.failedLogEntries())
            std::printf(" Logofile%d", n);
        std::printf("\n");
    }
    return 0;
}

void install(CLI::App& app, CliContext& context)
{
    auto* logo = app.add_subcommand("logo", "NV logos: convert, preview, list, upload, clear, print, settings");
    logo->require_subcommand(1);

    auto rasterArgs = std::make_shared<LogoArgs>();
    auto* raster = logo->add_subcommand("raster", "write the bytes an upload sends for one picture (header + raster)");
    addConversionOptions(raster, *rasterArgs);
    raster->callback([&context, rasterArgs] { context.action = [&context, rasterArgs] { return runRaster(context, *rasterArgs); }; });

    auto previewArgs = std::make_shared<LogoArgs>();
    auto* preview = logo->add_subcommand("preview", "write a PNG of the picture as the printer prints it (203 dpi)");
    addConversionOptions(preview, *previewArgs);
    preview->add_option("--mode", previewArgs->mode, "print mode")->check(CLI::IsMember({"normal", "dw", "dh", "quad"}));
    preview->callback([&context, previewArgs] { context.action = [&context, previewArgs] { return runPreview(context, *previewArgs); }; });

    auto listGray = std::make_shared<bool>(false);
    auto* list = logo->add_subcommand("list", "show the logo log as the bitmap list restores it");
    list->add_flag("--gray", *listGray, "count sizes for gray printing");
    list->callback([&context, listGray] { context.action = [&context, listGray] { return runList(context, *listGray); }; });

    for (auto installer : logoSubcommands())
        installer(logo, context);
}

const CommandRegistrar registrar("logo", install);

} // namespace

LogoSubcommandRegistrar::LogoSubcommandRegistrar(LogoSubcommandInstaller installer)
{
    logoSubcommands().push_back(installer);
}
