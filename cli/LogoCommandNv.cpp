// tavroctl logo upload|clear|print|settings|test-receipt: the logo tool's printer actions
// through the same engines the desktop pages drive.
#include "cli/CliCommand.h"
#include "cli/CliSession.h"
#include "cli/LogoCommand.h"
#include "common/JsonText.h"

#include "app/AppPaths.h"
#include "app/ConnectionRules.h"
#include "app/Profile.h"
#include "logo/BitmapList.h"
#include "logo/LogoFrames.h"
#include "logo/LogoLog.h"
#include "logo/LogoPrint.h"
#include "logo/LogoSelection.h"
#include "logo/NvUpload.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

namespace {

std::filesystem::path profilePathOf(const CliOptions& o)
{
    if (!o.profile.empty())
        return std::filesystem::path(o.profile);
    // The upload writes the logo log: an installed tool's XDG folder may not exist yet.
    const AppPaths paths = resolveAppPaths(std::filesystem::current_path(), XdgDirs::fromEnvironment());
    if (Status made = prepareAppPaths(paths); !made)
        std::fprintf(stderr, "tavroctl: %s\n", made.message().c_str());
    return paths.profile;
}

// The connection of the options, built but not opened (the engines open it as their action
// needs).
struct Connected {
    std::unique_ptr<CliSession> session;
    std::unique_ptr<PrinterConnection> connection;
};

Result<Connected> connectionFor(const CliContext& context)
{
    Connected c;
    c.session = std::make_unique<CliSession>(context.options);
    if (Status s = c.session->configure(); !s.ok())
        return s;
    c.connection = makeConnection(c.session->settings(), c.session->host());
    if (!c.connection)
        return Status::failure("no connection can use " + c.session->where());
    c.connection->setStallLimit(c.session->stallLimit());
    // Ctrl-C is the dialog's Cancel: it also ends a write the printer does not take.
    c.session->lendCancelToken(*c.connection);
    return c;
}

LogoEngineDeps depsOf(Connected& c)
{
    return {*c.connection, c.session->clock(), c.session->prompter(), c.session->log(), c.session->progress()};
}

struct UploadArgs {
    std::vector<std::string> files;
    bool gray = false;
    bool star = false;
    bool center = false;
    std::string centerPictures;
    int maxArea = 0;
    int diverging = LogoOptions::kDefaultDivergingPoint;
};

int runUpload(const CliContext& context, const UploadArgs& args)
{
    auto c = connectionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    const int family = c->session->settings().modelFamily;
    LogoOptions options = LogoOptions::defaults(family);
    if (args.maxArea > 0)
        options.maxPrintableArea = uint32_t(args.maxArea);
    options.divergingPoint = args.diverging;
    options.grayPrinting = args.gray;
    options.starEmulation = args.star;

    Profile profile(profilePathOf(context.options));
    BitmapList list(c->session->prompter(), options);
    int previousLogCount = 0;
    if (args.files.empty()) {
        previousLogCount = list.restoreFromLog(profile);
        if (!list.failedLogEntries().empty())
            return cliFail("the logo log names files that cannot be uploaded (" + list.lastError() +
                           "); give the files to upload");
        if (list.fileCount() == 0)
            return cliFail("nothing to upload: no files given and the logo log is empty (use `logo clear` to erase "
                           "the printer's pictures)");
    } else {
        previousLogCount = int(LogoLog(profile).read().size());
        for (const auto& file : args.files) {
            // Full paths in the log, so that a later run from elsewhere still finds them.
            std::error_code ec;
            auto full = std::filesystem::absolute(file, ec);
            if (!list.addFile(ec ? file : full.string(), 0))
                return cliFail(file + ": " + list.lastError());
        }
    }
    for (int row = 0; row < list.fileCount(); ++row)
        options.autoCenter[std::size_t(row)] = args.center;
    if (!args.centerPictures.empty()) {
        auto numbers = parseLogoSelection(args.centerPictures);
        if (!numbers)
            return cliFail("--center-pictures: \"" + args.centerPictures + "\" is not a selection of image numbers");
        for (int n : *numbers) {
            const int row = list.rowOfNumber(n);
            if (row < 0)
                return cliFail("--center-pictures: there is no picture " + std::to_string(n));
            options.autoCenter[std::size_t(row)] = true;
        }
    }

    NvUpload upload(depsOf(*c), NvUpload::itemsOf(list, options), options, family, uint64_t(list.totalBytes()),
                    &profile, previousLogCount);
    // Ctrl-C is the dialog's Cancel: the job pads the open definition before it ends.
    const CancelToken& cancel = c->session->cancelToken();
    StepResult r = runStepJob(upload, c->session->clock(), [&] { return cancel.cancelled(); });
    const std::string where = c->session->where();
    switch (upload.outcome()) {
    case NvUpload::Outcome::Completed:
        if (context.options.json)
            std::cout << "{\"uploaded\":" << upload.pictureCount() << ",\"bytes\":" << upload.bytesSent()
                      << ",\"to\":" << jsonQuote(where) << ",\"logWarning\":" << jsonQuote(upload.logWarning())
                      << "}\n";
        else
            std::cout << "uploaded " << upload.pictureCount() << " picture(s), " << upload.bytesSent()
                      << " raster bytes, to " << where << "\n";
        return upload.logWarning().empty() ? 0 : cliFail("the logo log was not written: " + upload.logWarning());
    case NvUpload::Outcome::Declined:
        return cliFail("upload not done; the printer keeps what it held");
    case NvUpload::Outcome::Cancelled:
        return cliFail("upload cancelled: " + upload.printerHolds());
    case NvUpload::Outcome::Failed:
    case NvUpload::Outcome::Running:
        break;
    }
    return cliFail(r.message + "; " + upload.printerHolds());
}

int runClear(const CliContext& context)
{
    auto c = connectionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    NvClearResult r = clearNvLogos(depsOf(*c));
    switch (r.outcome) {
    case NvClearOutcome::Cleared:
        std::cout << (context.options.json ? "{\"cleared\":true}\n" : "the printer's NV bit-image memory is erased\n");
        return 0;
    case NvClearOutcome::Declined:
        return cliFail("clear not done");
    case NvClearOutcome::Failed:
        break;
    }
    return cliFail(r.message);
}

struct PrintArgs {
    std::string selection;
    std::string mode = "normal";
    bool header = false;
    bool star = false;
};

int runPrint(const CliContext& context, const PrintArgs& args)
{
    LogoPrintRequest request;
    if (!args.selection.empty() && args.selection != "all") {
        auto numbers = parseLogoSelection(args.selection);
        if (!numbers)
            return cliFail("NV image number is incorrect. (\"" + args.selection + "\")");
        request.numbers = *numbers;
    }
    request.mode = args.mode == "dw"     ? logo_frames::PrintMode::DoubleWidth
                   : args.mode == "dh"   ? logo_frames::PrintMode::DoubleHeight
                   : args.mode == "quad" ? logo_frames::PrintMode::Quadruple
                                         : logo_frames::PrintMode::Normal;
    request.header = args.header;
    request.starEmulation = args.star;
    auto c = connectionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    LogoPrintJob job(depsOf(*c), request);
    const CancelToken& cancel = c->session->cancelToken();
    StepResult r = runStepJob(job, c->session->clock(), [&] { return cancel.cancelled(); });
    if (job.outcome() == LogoPrintJob::Outcome::Finished) {
        if (context.options.json)
            std::cout << "{\"printed\":" << job.printed() << "}\n";
        else
            std::cout << "printed " << job.printed() << " picture command(s) on " << c->session->where() << "\n";
        return 0;
    }
    if (job.outcome() == LogoPrintJob::Outcome::Cancelled)
        return cliFail("printing cancelled after " + std::to_string(job.printed()) + " picture(s)");
    return cliFail(r.message);
}

struct SettingsArgs {
    std::string top = "off", powerOn = "off", bottom = "off";
    int topNumber = 1, bottomNumber = 2;
    std::string topAlign = "center", bottomAlign = "center";
};

logo_frames::LogoJustify justifyOf(const std::string& s)
{
    return s == "left" ? logo_frames::LogoJustify::Left
           : s == "right" ? logo_frames::LogoJustify::Right
                          : logo_frames::LogoJustify::Center;
}

int reportAction(const CliContext& context, const LogoActionResult& r, const std::string& done)
{
    if (!r.ok)
        return cliFail(r.message);
    if (!r.warning.empty())
        std::cerr << "tavroctl: warning: " << r.warning << "\n";
    if (context.options.json)
        std::cout << "{\"sent\":" << jsonQuote(done) << ",\"warning\":" << jsonQuote(r.warning) << "}\n";
    else
        std::cout << done << "\n";
    return 0;
}

int runSettings(const CliContext& context, const SettingsArgs& args)
{
    logo_frames::LogoSettingsValues v;
    v.topEnable = args.top == "on";
    v.topNumber = args.topNumber;
    v.topJustify = justifyOf(args.topAlign);
    v.powerOn = args.powerOn == "on";
    v.bottomEnable = args.bottom == "on";
    v.bottomNumber = args.bottomNumber;
    v.bottomJustify = justifyOf(args.bottomAlign);
    auto c = connectionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    return reportAction(context, sendLogoSettings(depsOf(*c), v), "logo settings sent to " + c->session->where());
}

int runTestReceipt(const CliContext& context)
{
    auto c = connectionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    return reportAction(context, sendSampleReceipt(depsOf(*c)), "sample receipt sent to " + c->session->where());
}

void installPrinterCommands(CLI::App* logo, CliContext& context)
{
    auto up = std::make_shared<UploadArgs>();
    auto* upload = logo->add_subcommand("upload", "store pictures in the printer's NV memory (replaces all it holds)");
    upload->add_option("FILE", up->files, "BMP files, image numbers 1..N in this order (none: the logo log's list)");
    upload->add_flag("--gray", up->gray, "4-bit gray rasters (Use Gray Printing)");
    upload->add_flag("--star", up->star, "star emulation command prefix");
    upload->add_flag("--center", up->center, "auto-centre every picture on the printable area");
    upload->add_option("--center-pictures", up->centerPictures, "auto-centre these image numbers (e.g. 1,3-4)");
    upload->add_option("--max-area", up->maxArea, "printable area in dots (default 576, 384 for the TAVRO15)")
        ->check(CLI::Range(1, 576));
    upload->add_option("--diverging", up->diverging, "black / white diverging point")->check(CLI::Range(0, 255));
    upload->callback([&context, up] { context.action = [&context, up] { return runUpload(context, *up); }; });

    auto* clear = logo->add_subcommand("clear", "erase every picture in the printer's NV memory");
    clear->callback([&context] { context.action = [&context] { return runClear(context); }; });

    auto pr = std::make_shared<PrintArgs>();
    auto* print = logo->add_subcommand("print", "print stored pictures (All: 1..255)");
    print->add_option("SELECTION", pr->selection, "image numbers such as 3-5,9 (default: all)");
    print->add_option("--mode", pr->mode, "print mode")->check(CLI::IsMember({"normal", "dw", "dh", "quad"}));
    print->add_flag("--header", pr->header, "a \"--- Logo n ---\" line before each picture");
    print->add_flag("--star", pr->star, "star emulation command prefix");
    print->callback([&context, pr] { context.action = [&context, pr] { return runPrint(context, *pr); }; });

    auto st = std::make_shared<SettingsArgs>();
    auto* settings = logo->add_subcommand("settings", "set the top and bottom logo the printer adds to every receipt");
    const auto onOff = CLI::IsMember({"on", "off"});
    const auto align = CLI::IsMember({"left", "center", "right"});
    settings->add_option("--top", st->top, "top logo on|off (default off)")->check(onOff);
    settings->add_option("--top-number", st->topNumber, "top logo image number (default 1)")->check(CLI::Range(1, 255));
    settings->add_option("--top-align", st->topAlign, "left|center|right (default center)")->check(align);
    settings->add_option("--power-on", st->powerOn, "print the top logo at power-on on|off (default off)")
        ->check(onOff);
    settings->add_option("--bottom", st->bottom, "bottom logo on|off (default off)")->check(onOff);
    settings->add_option("--bottom-number", st->bottomNumber, "bottom logo image number (default 2)")
        ->check(CLI::Range(1, 255));
    settings->add_option("--bottom-align", st->bottomAlign, "left|center|right (default center)")->check(align);
    settings->callback([&context, st] { context.action = [&context, st] { return runSettings(context, *st); }; });

    auto* receipt = logo->add_subcommand("test-receipt", "print a sample receipt to see the top and bottom logos");
    receipt->callback([&context] { context.action = [&context] { return runTestReceipt(context); }; });
}

const LogoSubcommandRegistrar registrar(installPrinterCommands);

} // namespace
