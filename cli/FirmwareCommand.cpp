// tavroctl firmware info|download: what a firmware image holds for the chosen model, and the
// download of one flash area. The checks are those of the F/W Update dialog (signature at
// choosing, exact size at download, the area rules and questions); TAVRO15 entries use the
// packet download of that model. The exit status is 0 only when the printer took the whole area.
#include "cli/CliCommand.h"
#include "cli/CliSession.h"
#include "cli/JsonLine.h"

#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/Sha256.h"
#include "firmware/DownloadNote.h"
#include "firmware/FirmwareChecks.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/LegacyDownloadJob.h"
#include "firmware/PrinterReadyJob.h"
#include "firmware/TransferBlock.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <span>

namespace {

struct FirmwareArgs {
    std::string image;
    std::string area = "program";
    int family = 0;      // 0: from --device
    int answerTimeoutMs = 5000;
    std::string sha256; // --sha256: the digest the file must have
    bool force = false;  // --force: download a blank area too
    double readyTimeout = 60; // --ready-timeout: seconds to wait for the printer to answer again
    int flashWaitMs = -1;     // --flash-wait: the final wait in ms (-1: the area's own)
    int erasePauseMs = -1;    // --erase-pause: TAVRO15, each erase pause in ms (-1: the area's own)
};

const char* readyName(PrinterReady r)
{
    switch (r) {
    case PrinterReady::Answered: return "answered";
    case PrinterReady::NoAnswer: return "no-answer";
    case PrinterReady::Cancelled: return "cancelled";
    case PrinterReady::NotAsked: break;
    }
    return "not-asked";
}

// After a complete download: asks the printer until it answers again, where its answers
// reach us, at most --ready-timeout (Ctrl-C stops the wait).
PrinterReady waitForPrinter(CliSession& session, PrinterConnection& connection, const FirmwareArgs& args, bool korean)
{
    if (args.readyTimeout <= 0 || !printerCanBeAsked(connection.traits()))
        return PrinterReady::NotAsked;
    PrinterReadyOptions o;
    o.timeout = std::chrono::milliseconds(static_cast<long long>(args.readyTimeout * 1000.0 + 0.5));
    if (!session.options().json)
        std::cerr << printerReadyWaitingText(o.timeout, korean) << "\n";
    PrinterReadyJob job(connection, session.clock(), o);
    const CancelToken& cancel = session.cancelToken();
    (void)runStepJob(job, session.clock(), [&] { return cancel.cancelled(); });
    return job.result();
}

// The end of a complete download: the printer's answer (or that it gave none) on its own
// line; exit status 0 only when it answered or could not be asked.
int reportReady(PrinterReady ready, const FirmwareArgs& args, bool korean)
{
    const std::string text =
        printerReadyText(ready, std::chrono::milliseconds(static_cast<long long>(args.readyTimeout * 1000.0 + 0.5)), korean);
    if (ready == PrinterReady::NoAnswer || ready == PrinterReady::Cancelled)
        return cliFail(text);
    return 0;
}

ModelFamily familyOf(const CliOptions& options, const FirmwareArgs& args)
{
    if (args.family > 0)
        return familyOfNumber(args.family);
    if (!options.device.empty())
        return familyForOk(options.device);
    // The same model as a download without --device assumes (tavroctl's default entry).
    return kFamilyTavro36;
}

std::string checksumText(std::uint16_t sum)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%X", sum);
    return buf;
}

// --sha256: the file must be exactly the one the caller pinned. A failure message, or empty.
std::string digestProblem(const FirmwareArgs& args)
{
    return pinnedDigestProblem(args.image, args.sha256);
}

std::string rangeDigest(std::span<const std::uint8_t> image, const ImageRange& range)
{
    return areaDigest(image, range);
}

// The TAVRO15's flat image: each area's range, packet count and data sum.
int legacyInfo(const CliOptions& options, const FirmwareArgs& args)
{
    auto fileDigestResult = sha256OfFile(args.image);
    if (!fileDigestResult)
        return cliFail(std::string(catalogText(Msg::FileOpenError)) + " (" + fileDigestResult.message() + ")");
    const std::string fileDigest = *fileDigestResult;
    if (!options.json)
        std::cout << "sha256 " << fileDigest << "\n";
    OrderedJson rows = OrderedJson::array();
    for (LegacyArea a : {LegacyArea::Program, LegacyArea::Boot, LegacyArea::Font}) {
        const auto areaSpec = *legacyAreaSpec(a);
        auto bytes = loadLegacyImage(args.image, areaSpec);
        if (!bytes)
            return cliFail(std::string(catalogText(Msg::FileOpenError)) + " (" + bytes.message() + ")");
        std::uint32_t sum = 0;
        for (std::uint32_t i = areaSpec.start; i < areaSpec.end && i < bytes->size(); ++i)
            sum += (*bytes)[i];
        const std::uint32_t length = areaSpec.end - areaSpec.start;
        const bool shortFile = bytes->size() < areaSpec.end;
        const std::string digest = rangeDigest(*bytes, imageRangeOf(areaSpec, false));
        if (options.json) {
            rows.push_back(OrderedJson{{"area", legacyAreaName(a)}, {"offset", areaSpec.start}, {"length", length},
                                       {"packets", (length + 511) / 512},
                                       {"sum", checksumText(static_cast<std::uint16_t>(sum))}, {"sha256", digest},
                                       {"covered", !shortFile}});
        } else {
            std::cout << "  " << legacyAreaName(a) << ": offset " << hexOffset(areaSpec.start) << ", length " << length
                      << ", " << (length + 511) / 512 << " packets, data sum " << checksumText(static_cast<std::uint16_t>(sum))
                      << (shortFile ? " (the file ends inside the area: refused for download)" : "") << "\n"
                      << "    sha256 " << digest << "\n";
        }
    }
    if (options.json)
        std::cout << toJsonLine({{"family", 2}, {"protocol", "packets"}, {"sha256", fileDigest}, {"areas", rows}})
                  << "\n";
    return 0;
}

int runInfo(const CliOptions& options, const FirmwareArgs& args)
{
    const ModelFamily family = familyOf(options, args);
    if (family == kFamilyTavro15) {
        if (!options.json)
            std::cout << args.image << ": TAVRO15 flat image (packet download)\n";
        return legacyInfo(options, args);
    }
    auto trailer = FirmwareImage::readTrailer(args.image);
    if (!trailer)
        return cliFail("ERROR : File Open (" + trailer.message() + ")");
    auto fileDigest = sha256OfFile(args.image);
    if (!fileDigest)
        return cliFail("ERROR : File Open (" + fileDigest.message() + ")");
    FirmwareImage::Fault fault{};
    std::uint64_t size = 0;
    auto image = FirmwareImage::load(args.image, &fault, &size);

    OrderedJson rows = OrderedJson::array();
    if (image) {
        for (FirmwareArea a : kFirmwareAreas) {
            const auto areaSpec = firmwareAreaSpec(a, family);
            auto block = buildTransferBlock(*image, a, family);
            const std::string sum = checksumText(transferBlockChecksum(block));
            const ImageRange range = imageRangeOf(a, family, false);
            if (options.json) {
                rows.push_back(OrderedJson{{"area", firmwareAreaName(a)}, {"offset", areaSpec.offset},
                                           {"length", areaSpec.length}, {"checksum", sum},
                                           {"sha256", rangeDigest(image->bytes(), range)},
                                           {"blank", blankFill(image->bytes(), range).has_value()}});
            }
        }
    }
    if (options.json) {
        OrderedJson info = {{"file", args.image}, {"size", size}, {"sha256", *fileDigest},
                            {"signature", trailer->signature}, {"bootPermission", int(trailer->bootPermission)},
                            {"family", familyNumber(family)}, {"valid", bool(image)}};
        if (!image)
            info["error"] = image.message();
        info["areas"] = std::move(rows);
        std::cout << toJsonLine(info) << "\n";
    } else {
        std::cout << args.image << ": " << size << " bytes, signature " << (trailer->signature ? "QZM2" : "missing")
                  << ", boot permission " << int(trailer->bootPermission)
                  << (trailer->bootAllowed() ? " (Boot Area allowed in service mode)" : " (Boot Area locked)") << "\n"
                  << "sha256 " << *fileDigest << "\n";
        if (image) {
            std::cout << "areas for " << familyLabel(family) << "model family " << familyNumber(family) << ":\n";
            for (FirmwareArea a : kFirmwareAreas) {
                const auto areaSpec = firmwareAreaSpec(a, family);
                std::cout << "  " << firmwareAreaName(a) << ": offset " << hexOffset(areaSpec.offset) << ", FileSize "
                          << areaSpec.length << ", CHECKSUM "
                          << checksumText(transferBlockChecksum(buildTransferBlock(*image, a, family)))
                          << (firmwareAreaAllowed(a, family, true, trailer->bootAllowed()) ? "" : " (not for this model/image)")
                          << (blankFill(image->bytes(), imageRangeOf(a, family, false)) ? " (blank)" : "") << "\n"
                          << "    sha256 " << rangeDigest(image->bytes(), imageRangeOf(a, family, false)) << "\n";
            }
        }
    }
    if (!image)
        return cliFail(image.message());
    return 0;
}

int runLegacyDownload(CliSession& session, const FirmwareArgs& args)
{
    const CliOptions& options = session.options();
    auto area = legacyAreaFromName(args.area);
    std::optional<LegacyAreaSpec> areaSpec = area ? legacyAreaSpec(*area) : std::nullopt;
    if (!areaSpec)
        return cliFail("the TAVRO15 takes --area program, boot or font");
    if (isDangerousArea(*area) && !options.service)
        return cliFail("--area " + args.area + " needs --service");
    if (std::string problem = digestProblem(args); !problem.empty())
        return cliFail(problem);
    auto bytes = loadLegacyImage(args.image, *areaSpec);
    if (!bytes)
        return cliFail(std::string(catalogText(Msg::FileOpenError)) + " (" + bytes.message() + ")");
    const bool korean = systemDefaultIsKorean();
    const ImageRange range = imageRangeOf(*areaSpec, korean);
    if (auto problem = coverageProblem(bytes->size(), range, korean))
        return cliFail(*problem + "\n(nothing was sent)");
    if (auto fill = blankFill(*bytes, range); fill && !args.force)
        return cliFail(blankAreaRefusal(imageRangeOf(*areaSpec, false), *fill));
    if (isDangerousArea(*area) && !session.prompter().askDefaultNo(catalogText(Msg::ConfirmBootArea)))
        return cliFail("not downloaded: the question was answered No");
    // No handshake for the download; the session's connection carries the --stall bound.
    auto connection = session.connection(legacyDownloadSettings(session.settings()));
    if (!connection)
        return cliFail(std::string(catalogText(Msg::InitFail)) + " (" + connection.message() + ")");
    LegacyDownloadOptions o;
    o.ackTimeout = std::chrono::milliseconds(args.answerTimeoutMs);
    o.eraseAckTimeout = std::max(o.eraseAckTimeout, o.ackTimeout);
    if (args.erasePauseMs >= 0)
        o.erasePause = std::chrono::milliseconds(args.erasePauseMs);
    const DownloadPlace place{imageRangeOf(*areaSpec, korean).areaName, args.image, session.where()};
    DownloadNoteKeeper note(profileFolderOf(options), place);
    o.stateChanged = [&note](const AreaWriteState& s) { note.stateChanged(s); };
    LegacyDownloadJob job(**connection, *areaSpec, std::move(*bytes), session.clock(), session.progress(), o);
    // Ctrl-C cancels the session's token: the job stops at its next packet or answer, never
    // reported as complete.
    const CancelToken& cancel = session.cancelToken();
    StepResult r = runStepJob(job, session.clock(), [&] { return cancel.cancelled(); });
    note.ended(job.state());
    if (r.kind != StepResult::Kind::Finished || !job.completed()) {
        const std::string message = earlyEndMessage(job.state(), place, r.message, korean);
        if (options.json)
            std::cout << toJsonLine({{"area", args.area}, {"completed", false}, {"packets", job.packetsWritten()},
                                     {"state", writePhaseName(job.state().phase)}, {"reached", job.state().reached},
                                     {"error", message}})
                      << "\n";
        return cliFail(message);
    }
    if (!options.json)
        std::cout << catalogText(Msg::Completed) << "\n" << std::flush;
    const PrinterReady ready = waitForPrinter(session, **connection, args, korean);
    if (options.json)
        std::cout << toJsonLine({{"area", args.area}, {"completed", true}, {"packets", job.packetsWritten()},
                                 {"bytes", areaSpec->end - areaSpec->start}, {"ready", readyName(ready)}})
                  << "\n";
    else if (ready == PrinterReady::Answered)
        std::cout << printerReadyText(ready, {}, korean) << "\n";
    return reportReady(ready, args, korean);
}

int runDownload(const CliOptions& options, const FirmwareArgs& args)
{
    CliSession session(options);
    if (Status s = session.configure(); !s)
        return cliFail(s.message());
    ModelFamily family = session.settings().modelFamily;
    if (args.family > 0)
        family = familyOfNumber(args.family);
    if (family == ModelFamily::None)
        family = kFamilyTavro25;
    if (family == kFamilyTavro15)
        return runLegacyDownload(session, args);

    auto area = firmwareAreaFromName(args.area);
    if (!area)
        return cliFail("unknown --area " + args.area + " (program, ext-font, lcd-font, downloader or boot)");
    auto image = checkAreaDownload(args.image, *area, args.area, family, options.service, args.sha256, args.force);
    if (!image)
        return cliFail(image.message());
    const std::string question = firmwareAreaQuestion(*area, systemDefaultIsKorean());
    if (!question.empty()) {
        const bool yes = isDangerousArea(*area) ? session.prompter().askDefaultNo(question) : session.prompter().ask(question);
        if (!yes)
            return cliFail("not downloaded: the question was answered No");
    }

    const bool korean = systemDefaultIsKorean();
    auto block = buildTransferBlock(*image, *area, family);
    const std::uint32_t length = static_cast<std::uint32_t>(block.size());
    const std::string checksum = checksumText(transferBlockChecksum(block));
    if (!options.json)
        std::cout << "CHECKSUM : " << checksum << "  (" << firmwareAreaName(*area) << ", " << length << " bytes to "
                  << session.where() << ")\n";

    // The session's connection carries the --stall bound.
    auto connection = session.connection();
    if (!connection)
        return cliFail(std::string(catalogText(Msg::InitFail)) + " (" + connection.message() + ")");
    const DownloadPlace place{imageRangeOf(*area, family, korean).areaName, args.image, session.where()};
    DownloadNoteKeeper note(profileFolderOf(options), place);
    FirmwareTransferOptions o;
    o.imageOffset = firmwareAreaSpec(*area, family).offset;
    o.stateChanged = [&note](const AreaWriteState& s) { note.stateChanged(s); };
    if (args.flashWaitMs >= 0)
        o.finalWaitTotal = std::chrono::milliseconds(args.flashWaitMs);
    FirmwareTransfer transfer(**connection, std::move(block), session.clock(), session.progress(), o);
    // Ctrl-C cancels the session's token, which the connection carries: the transfer ends
    // within a fraction of a second, never reported as complete.
    FirmwareTransferOutcome out = transfer.run();
    note.ended(out.state);
    if (auto* bar = dynamic_cast<CliProgress*>(&session.progress()))
        bar->finish();
    const std::string early =
        out.completed() ? std::string()
                        : earlyEndMessage(out.state, place,
                                          out.message + " (" + out.detail + "; " + std::to_string(out.sent) + " of " +
                                              std::to_string(out.total) + " bytes sent)",
                                          korean);
    PrinterReady ready = PrinterReady::NotAsked;
    if (out.completed()) {
        if (!options.json)
            std::cout << "FileSize : " << out.sent << " bytes\n" << out.message << "\n" << std::flush;
        ready = waitForPrinter(session, **connection, args, korean);
    }

    if (options.json) {
        OrderedJson line = {{"area", firmwareAreaName(*area)}, {"family", familyNumber(family)}, {"checksum", checksum},
                            {"fileSize", out.sent}, {"total", out.total}, {"completed", out.completed()},
                            {"state", writePhaseName(out.state.phase)}, {"reached", out.state.reached}};
        if (!out.completed()) {
            line["error"] = out.message;
            line["detail"] = out.detail;
            line["errno"] = out.error;
            line["message"] = early;
        } else {
            line["ready"] = readyName(ready);
        }
        std::cout << toJsonLine(line) << "\n";
    }
    if (!out.completed())
        return cliFail(early);
    if (!options.json && ready == PrinterReady::Answered)
        std::cout << printerReadyText(ready, {}, korean) << "\n";
    return reportReady(ready, args, korean);
}

void installFirmware(CLI::App& app, CliContext& context)
{
    auto* fw = app.add_subcommand("firmware", "inspect a firmware image and download one flash area");
    fw->require_subcommand(1);
    auto args = std::make_shared<FirmwareArgs>();

    auto* info = fw->add_subcommand("info", "size, signature, boot permission and each area's offset, length and checksum");
    info->add_option("IMAGE", args->image, "firmware image (8 MiB; a flat .bin for the TAVRO15)")->required();
    info->add_option("--family", args->family, "model family 1..6 (default: from --device, else 5, TAVRO36/38)")->check(CLI::Range(1, 6));
    info->callback([&context, args] { context.action = [&context, args] { return runInfo(context.options, *args); }; });

    auto* dl = fw->add_subcommand("download", "write one flash area of the printer from the image");
    dl->add_option("IMAGE", args->image, "firmware image")->required();
    dl->add_option("--area", args->area,
                   "program, ext-font, lcd-font (TAVRO46/48), downloader or boot (both need --service); "
                   "TAVRO15: program, boot (needs --service) or font")
        ->required();
    dl->add_option("--family", args->family, "model family 1..6 (default: from --device)")->check(CLI::Range(1, 6));
    dl->add_option("--answer-timeout", args->answerTimeoutMs, "TAVRO15: ms to wait for each packet's answer (default 5000)")
        ->check(CLI::Range(50, 600000));
    dl->add_option("--sha256", args->sha256, "refuse the file unless its SHA-256 is this (64 hex digits; see firmware info)");
    dl->add_flag("--force", args->force, "download an area even when it is blank in the file (all 00 or all FF)");
    dl->add_option("--ready-timeout", args->readyTimeout,
                   "seconds to wait after the download for the printer to answer again (default 60; 0: do not wait)")
        ->check(CLI::Range(0.0, 3600.0));
    dl->add_option("--flash-wait", args->flashWaitMs,
                   "ms to wait after the last byte while the printer writes its flash (default: the area's own time)")
        ->check(CLI::Range(0, 600000));
    dl->add_option("--erase-pause", args->erasePauseMs,
                   "TAVRO15: ms of each of the six pauses while the printer erases (default 500, Boot 400)")
        ->check(CLI::Range(0, 10000));
    dl->callback([&context, args] { context.action = [&context, args] { return runDownload(context.options, *args); }; });
}

const CommandRegistrar registrar("firmware", installFirmware);

} // namespace
