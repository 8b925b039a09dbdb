// tavroctl logo upload|clear|print|settings|check|test-receipt: the logo tool's printer actions
// through the same LogoTool the desktop pages call.
#include "cli/CliCommand.h"
#include "cli/CliSession.h"
#include "cli/LogoCommand.h"
#include "cli/JsonLine.h"

#include "app/AppPaths.h"
#include "app/ConnectionRules.h"
#include "app/Profile.h"
#include "logo/BitmapList.h"
#include "logo/LogoFrames.h"
#include "logo/LogoLog.h"
#include "logo/LogoSelection.h"
#include "logo/LogoTool.h"
#include "port/PrinterConnection.h"

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

// The logo tool's host for the options: the session (CPorts, prompter, log, progress, Ctrl-C)
// and a factory that builds the connection, not opened (the tool opens it as its action
// needs). The session stays the caller's.
struct LogoSession {
    std::unique_ptr<CliSession> session;

    logo_tool::LogoToolDeps deps()
    {
        CliSession* s = session.get();
        return {s->settings(),
                s->connectionFactory(),
                s->clock(),
                s->prompter(),
                s->log(),
                s->progress(),
                &s->cancelToken(),
                {}};
    }
};

Result<LogoSession> sessionFor(const CliContext& context)
{
    LogoSession c;
    c.session = std::make_unique<CliSession>(context.options);
    if (Status s = c.session->configure(); !s.ok())
        return s;
    return c;
}

// The failure line of a report; a connection that could not be made names the port.
int failWith(const LogoSession& c, const logo_tool::LogoReport& r)
{
    if (r.outcome == logo_tool::LogoOutcome::NotConnected)
        return cliFail("no connection can use " + c.session->where());
    return cliFail(r.message);
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
    auto c = sessionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    const ModelFamily family = c->session->settings().modelFamily;
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

    // Ctrl-C is the dialog's Cancel: the job pads the open definition before it ends.
    const logo_tool::LogoReport r = logo_tool::uploadLogos(c->deps(), list, options, &profile, previousLogCount);
    const std::string where = c->session->where();
    switch (r.outcome) {
    case logo_tool::LogoOutcome::Done:
        if (context.options.json)
            std::cout << toJsonLine({{"uploaded", r.pictures}, {"bytes", r.bytes}, {"to", where},
                                     {"logWarning", r.message}})
                      << "\n";
        else
            std::cout << "uploaded " << r.pictures << " picture(s), " << r.bytes << " raster bytes, to " << where
                      << "\n";
        return r.message.empty() ? 0 : cliFail("the logo log was not written: " + r.message);
    case logo_tool::LogoOutcome::Declined:
        return cliFail("upload not done; the printer keeps what it held");
    case logo_tool::LogoOutcome::Cancelled:
        return cliFail("upload cancelled: " + r.printerHolds);
    case logo_tool::LogoOutcome::NotConnected:
        return failWith(*c, r);
    case logo_tool::LogoOutcome::Failed:
        break;
    }
    return cliFail(r.message + "; " + r.printerHolds);
}

int runClear(const CliContext& context)
{
    auto c = sessionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    const logo_tool::LogoReport r = logo_tool::clearLogos(c->deps());
    switch (r.outcome) {
    case logo_tool::LogoOutcome::Done:
        std::cout << (context.options.json ? toJsonLine({{"cleared", true}}) + "\n"
                                           : "the printer's NV bit-image memory is erased\n");
        return 0;
    case logo_tool::LogoOutcome::Declined:
        return cliFail("clear not done");
    case logo_tool::LogoOutcome::Cancelled:
    case logo_tool::LogoOutcome::Failed:
    case logo_tool::LogoOutcome::NotConnected:
        break;
    }
    return failWith(*c, r);
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
    auto c = sessionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    const logo_tool::LogoReport r = logo_tool::printLogos(c->deps(), request);
    if (r.done()) {
        if (context.options.json)
            std::cout << toJsonLine({{"printed", r.pictures}}) << "\n";
        else
            std::cout << "printed " << r.pictures << " picture command(s) on " << c->session->where() << "\n";
        return 0;
    }
    if (r.outcome == logo_tool::LogoOutcome::Cancelled)
        return cliFail("printing cancelled after " + std::to_string(r.pictures) + " picture(s)");
    return failWith(*c, r);
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

int reportAction(const CliContext& context, const LogoSession& c, const logo_tool::LogoReport& r,
                 const std::string& done)
{
    if (!r.done())
        return failWith(c, r);
    if (!r.message.empty())
        std::cerr << "tavroctl: warning: " << r.message << "\n";
    if (context.options.json)
        std::cout << toJsonLine({{"sent", done}, {"warning", r.message}}) << "\n";
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
    auto c = sessionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    return reportAction(context, *c, logo_tool::setLogoSettings(c->deps(), v),
                        "logo settings sent to " + c->session->where());
}

int runTestReceipt(const CliContext& context)
{
    auto c = sessionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    return reportAction(context, *c, logo_tool::printSampleReceipt(c->deps()),
                        "sample receipt sent to " + c->session->where());
}

int runCheck(const CliContext& context)
{
    auto c = sessionFor(context);
    if (!c.ok())
        return cliFail(c.message());
    const logo_tool::LogoReport r = logo_tool::checkPrinter(c->deps());
    if (!r.done())
        return failWith(*c, r);
    const std::string where = c->session->where();
    if (context.options.json)
        std::cout << toJsonLine({{"checked", where}, {"note", r.message}}) << "\n";
    else
        std::cout << (r.message.empty() ? "printer check sent to " + where : r.message) << "\n";
    return 0;
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

    auto* check = logo->add_subcommand("check", "wake the printer and check it answers, as the Advanced page does");
    check->callback([&context] { context.action = [&context] { return runCheck(context); }; });

    auto* receipt = logo->add_subcommand("test-receipt", "print a sample receipt to see the top and bottom logos");
    receipt->callback([&context] { context.action = [&context] { return runTestReceipt(context); }; });
}

const LogoSubcommandRegistrar registrar(installPrinterCommands);

} // namespace
