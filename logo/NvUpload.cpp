#include "logo/NvUpload.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "logo/BitmapList.h"
#include "logo/LogoLog.h"
#include "logo/LogoRasterizer.h"

#include <algorithm>
#include <cstdio>

namespace {

// Catalog entries of the upload.

std::string updatingText(uint64_t sent, uint64_t total, const std::string& name)
{
    char text[96];
    std::snprintf(text, sizeof text, "Updating(%ld/%ld)...", long(sent), long(total));
    return text + name;
}

// Opens for the upload and the clear. `reopenFirst`: the clear closes and reopens every
// connection that stays open; the upload does that only where the connection asks for it.
// A capture gets no printer check and no ESC @.
Status openForNvDefinition(LogoEngineDeps& d, bool reopenFirst)
{
    PrinterConnection& c = d.connection;
    const ConnectionTraits traits = c.traits();
    const bool reopen = traits.reopenBeforeDefinition || reopenFirst;
    if (traits.openedPerAction) {
        IoResult r = c.open();
        if (!r.ok()) {
            c.close();
            if (!r.isCancelled())
                d.prompter.message(catalogText(Msg::PortOpenError));
            return Status::failure(r.context("cannot connect to " + c.describe()).message());
        }
        return Status::success();
    }
    if (reopen)
        c.close();
    IoResult r = c.open();
    if (r.isCancelled())
        return Status::failure(r.message());
    if (!r.ok()) {
        if (reopen)
            d.prompter.message(catalogText(Msg::PortOpenError));
        else
            d.prompter.message(catalogFormat(Msg::OpenPortOrFileError, r.error()));
        return Status::failure(r.context("cannot open " + c.describe()).message());
    }
    if (!traits.printerCheck)
        return Status::success();
    r = logo_link::printerCheck(c);
    if (!r.ok()) {
        if (!r.isCancelled())
            d.prompter.message(catalogText(Msg::WriteToPortError));
        c.close();
        return Status::failure(r.message());
    }
    if (traits.initialise) {
        r = logo_link::send(c, logo_frames::initialise());
        if (!r.ok()) {
            if (!r.isCancelled())
                d.prompter.message(catalogText(Msg::PrinterCheckError));
            c.close();
            return Status::failure(r.context("ESC @").message());
        }
    }
    return Status::success();
}

} // namespace

NvUpload::NvUpload(LogoEngineDeps deps, std::vector<Item> items, const LogoOptions& options, ModelFamily modelFamily,
                   uint64_t predictedTotalBytes, Profile* profile, int previousLogCount)
    : m_deps(deps), m_items(std::move(items)), m_options(options), m_family(modelFamily), m_profile(profile),
      m_previousLogCount(previousLogCount), m_totalBytes(predictedTotalBytes)
{
}

std::vector<NvUpload::Item> NvUpload::itemsOf(const BitmapList& list, const LogoOptions& options)
{
    std::vector<Item> items;
    for (int row : list.uploadOrder()) {
        const auto& e = list.entries()[std::size_t(row)];
        items.push_back({e.path, e.name, options.autoCenterOf(row)});
    }
    return items;
}

Result<std::vector<LogoPicture>> NvUpload::convert(const std::vector<Item>& items, const LogoOptions& options)
{
    LogoRasterizer rasterizer(options);
    std::vector<LogoPicture> pictures;
    pictures.reserve(items.size());
    for (const Item& item : items) {
        auto picture = rasterizeLogo(rasterizer, item.path, item.autoCenter && !options.grayPrinting);
        if (!picture.ok())
            return Result<std::vector<LogoPicture>>::failure("cannot convert " + item.path + ": " + picture.message());
        pictures.push_back(std::move(*picture));
    }
    return pictures;
}

const char* NvUpload::smallNvNotice()
{
    return g_pMsg == &koreanCatalog() ? "TAVRO36/38의 NV 그래픽 메모리 크기는 128KB입니다." : kSmallNvNotice;
}

std::string NvUpload::printerHolds() const
{
    const int n = pictureCount();
    switch (m_outcome) {
    case Outcome::Completed:
        return "the printer holds pictures 1.." + std::to_string(n);
    case Outcome::Cancelled:
        if (!m_defineSent)
            return "nothing was sent; the printer keeps what it held";
        if (m_defineCut)
            return "the printer's NV bit-image memory may be erased (then it holds " + std::to_string(n) +
                   " empty pictures)";
        if (m_sent >= n)
            return "the printer holds pictures 1.." + std::to_string(n);
        if (m_cutRemainder > 0) {
            const int cut = m_sent + 1;
            std::string text = m_sent > 0 ? "the printer holds pictures 1.." + std::to_string(m_sent) + " and " : "the printer holds ";
            text += "picture " + std::to_string(cut) + " cut short (its rest blank)";
            if (cut + 1 == n)
                text += "; picture " + std::to_string(n) + " is empty";
            else if (cut < n)
                text += "; pictures " + std::to_string(cut + 1) + ".." + std::to_string(n) + " are empty";
            return text;
        }
        if (m_sent == 0)
            return "the printer's NV bit-image memory is erased (" + std::to_string(n) + " empty pictures)";
        return "the printer holds pictures 1.." + std::to_string(m_sent) + "; pictures " +
               std::to_string(m_sent + 1) + ".." + std::to_string(n) + " are empty";
    case Outcome::Failed:
        if (m_paddingFailed)
            return "the printer's NV bit-image memory was erased and the printer still waits for picture data; "
                   "switch the printer off and on, then upload again";
        if (!m_defineSent)
            return "nothing was sent; the printer keeps what it held";
        return "the printer's NV bit-image memory was erased and the definition is incomplete after picture " +
               std::to_string(m_sent) + "; upload again";
    case Outcome::Declined:
    case Outcome::Running:
        break;
    }
    return "nothing was sent; the printer keeps what it held";
}

std::string NvUpload::printerHoldsKorean() const
{
    const int n = pictureCount();
    const auto range = [](int first, int last) {
        return first == last ? std::to_string(first) + "번" : std::to_string(first) + "~" + std::to_string(last) + "번";
    };
    const std::string unchanged = "전송된 데이터가 없습니다. 프린터의 이미지는 그대로입니다";
    switch (m_outcome) {
    case Outcome::Completed:
        return "프린터에 " + range(1, n) + " 이미지가 저장되어 있습니다";
    case Outcome::Cancelled:
        if (!m_defineSent)
            return unchanged;
        if (m_defineCut)
            return "프린터의 NV 이미지 메모리가 지워졌을 수 있습니다 (그렇다면 빈 이미지 " + std::to_string(n) + "개)";
        if (m_sent >= n)
            return "프린터에 " + range(1, n) + " 이미지가 저장되어 있습니다";
        if (m_cutRemainder > 0) {
            const int cut = m_sent + 1;
            std::string text = m_sent > 0 ? "프린터에 " + range(1, m_sent) + " 이미지가 저장되어 있고 " : "프린터의 ";
            text += std::to_string(cut) + "번 이미지는 일부만 저장되었습니다 (나머지는 빈칸)";
            if (cut < n)
                text += "; " + range(cut + 1, n) + " 이미지는 비어 있습니다";
            return text;
        }
        if (m_sent == 0)
            return "프린터의 NV 이미지 메모리가 지워졌습니다 (빈 이미지 " + std::to_string(n) + "개)";
        return "프린터에 " + range(1, m_sent) + " 이미지가 저장되어 있고 " + range(m_sent + 1, n) +
               " 이미지는 비어 있습니다";
    case Outcome::Failed:
        if (m_paddingFailed)
            return "프린터의 NV 이미지 메모리가 지워졌고 프린터가 아직 이미지 데이터를 기다립니다. 프린터를 껐다 켠 "
                   "뒤 다시 전송하십시오";
        if (!m_defineSent)
            return unchanged;
        return "프린터의 NV 이미지 메모리가 지워졌고 " + std::to_string(m_sent) +
               "번 이미지 뒤에서 저장이 끝나지 않았습니다. 다시 전송하십시오";
    case Outcome::Declined:
    case Outcome::Running:
        break;
    }
    return unchanged;
}

void NvUpload::report(ProgressStep step, const std::string& text)
{
    if (m_progress)
        m_progress->at(step, step == kProgressBlocks ? m_bytesSent : 0, m_totalBytes, text);
}

StepResult NvUpload::fail(const std::string& reason)
{
    m_outcome = Outcome::Failed;
    m_phase = Phase::Done;
    m_deps.connection.close();
    return StepResult::failed(reason);
}

StepResult NvUpload::step()
{
    LentCancelToken lent(m_deps.connection, m_ownToken);
    switch (m_phase) {
    case Phase::Begin:
        return begin();
    case Phase::Transfer:
        if (m_cancelRequested)
            return cancelled();
        return transferOne();
    case Phase::Log:
        if (m_cancelRequested)
            return cancelled();
        return finishLog();
    case Phase::Done:
        break;
    }
    return m_outcome == Outcome::Failed ? StepResult::failed("upload already ended") : StepResult::finished();
}

StepResult NvUpload::begin()
{
    const int n = pictureCount();
    if (n < 1 || n > BitmapList::kMaxFiles) {
        m_phase = Phase::Done;
        m_outcome = Outcome::Failed;
        return StepResult::failed("an upload takes 1.." + std::to_string(BitmapList::kMaxFiles) + " pictures, not " +
                                  std::to_string(n));
    }
    const uint64_t usedKB = m_totalBytes / 1024 + (m_totalBytes % 1024 ? 1 : 0);
    if (m_family == kSmallNvFamily && usedKB > uint64_t(kSmallNvKB)) {
        m_deps.prompter.show(smallNvNotice(), PromptButtons::Ok, PromptIcon::Information, "Notice");
        m_phase = Phase::Done;
        m_outcome = Outcome::Declined;
        return StepResult::finished();
    }
    if (m_cancelRequested || !m_deps.prompter.ask(catalogText(Msg::AllImagesWritten), PromptIcon::Question)) {
        m_phase = Phase::Done;
        m_outcome = Outcome::Declined;
        return StepResult::finished();
    }

    // Every picture is converted before FS q n goes out: a file that changed or vanished
    // since it was listed stops the upload while the printer still holds its old pictures,
    // instead of half-way through a definition that has already erased them.
    if (!m_pictures) {
        auto converted = convert(m_items, m_options);
        if (!converted) {
            m_deps.prompter.message(converted.message());
            m_phase = Phase::Done;
            m_outcome = Outcome::Failed;
            return StepResult::failed(converted.message() + "; nothing was sent");
        }
        m_pictures = std::make_shared<const std::vector<LogoPicture>>(std::move(*converted));
    }
    if (m_pictures->size() != m_items.size()) {
        m_phase = Phase::Done;
        m_outcome = Outcome::Failed;
        return StepResult::failed("the converted pictures do not match the list; nothing was sent");
    }
    uint64_t total = 0;
    for (const LogoPicture& picture : *m_pictures)
        total += picture.raster.size();
    m_totalBytes = total;
    m_progress.emplace(m_deps.progress, progressWeights(total));

    Status opened = openForNvDefinition(m_deps, false);
    if (!opened.ok()) {
        m_phase = Phase::Done;
        if (logo_link::cancelled(m_deps.connection)) {
            // Cut before the define command: the printer keeps what it held.
            m_deps.connection.close();
            m_outcome = Outcome::Cancelled;
            return StepResult::finished();
        }
        m_outcome = Outcome::Failed;
        return StepResult::failed(opened.message());
    }

    report(kProgressErase, "Erasing...");
    IoResult r = logo_link::send(m_deps.connection, logo_frames::defineCommand(n, m_options.starEmulation));
    if (r.isCancelled()) {
        // Some of the command may be on its way: pad as for a cancel during the erase, after
        // the erase wait, which completes the definition if it arrived and is ignored if not.
        m_defineSent = true;
        m_defineCut = true;
        m_cancelRequested = true;
        m_phase = Phase::Transfer;
        return StepResult::again(kEraseWait);
    }
    if (!r.ok()) {
        m_deps.prompter.message(catalogText(Msg::CommunicationError));
        m_deps.log.WriteLog("CProgress OnInitDialog[%d]", r.error());
        // Some of the command may have reached the printer: say so rather than guess.
        m_defineSent = r.count() > 0;
        return fail(r.context("define command").message());
    }
    m_defineSent = true;
    m_phase = Phase::Transfer;
    return StepResult::again(kEraseWait);
}

StepResult NvUpload::transferOne()
{
    const std::size_t k = std::size_t(m_sent);
    const Item& item = m_items[k];
    const LogoPicture& picture = (*m_pictures)[k];
    PrinterConnection& c = m_deps.connection;

    report(kProgressBlocks, updatingText(m_bytesSent, m_totalBytes, item.name));
    const auto header = picture.header();
    IoResult r = logo_link::send(c, header);
    if (r.isCancelled())
        return cutShort(r.count());
    if (!r.ok()) {
        m_deps.prompter.message(catalogText(Msg::CommunicationError));
        m_deps.log.WriteLog("CPrograss writeInstruction[%d]", int(r.count()));
        m_deps.log.WriteLog("CPrograss WriteInstruction [%02X-%02X-%02X-%02X]\n", header[0], header[1], header[2],
                            header[3]);
        return fail(r.context("picture " + std::to_string(k + 1) + " header").message());
    }

    const std::vector<uint8_t>& raster = picture.raster;
    const std::size_t blocks = (raster.size() + kBlockSize - 1) / kBlockSize;
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t offset = b * kBlockSize;
        const std::size_t length = std::min(kBlockSize, raster.size() - offset);
        r = logo_link::send(c, std::span<const uint8_t>(raster.data() + offset, length));
        if (r.isCancelled()) {
            m_bytesSent += r.count();
            return cutShort(header.size() + offset + r.count());
        }
        if (!r.ok()) {
            // A block that did not reach the printer leaves it inside the definition: this
            // is a failure, never a success with a picture missing.
            m_bytesSent += r.count();
            m_deps.prompter.message(catalogText(Msg::CommunicationError));
            m_deps.log.WriteLog("CPrograss writeBlock[%d] picture %d offset %d", int(r.count()), int(k + 1),
                                int(offset));
            return fail(r.context("picture " + std::to_string(k + 1) + " (" + item.name + "), block " +
                                  std::to_string(b + 1) + " of " + std::to_string(blocks))
                            .message());
        }
        m_bytesSent += length;
        report(kProgressBlocks, updatingText(m_bytesSent, m_totalBytes, item.name));
        m_deps.clock.sleep(kBlockPause);
    }
    ++m_sent;
    if (m_sent >= pictureCount())
        m_phase = Phase::Log;
    return StepResult::again(kStepPause);
}

Status NvUpload::writeLog(int pictures)
{
    if (!m_profile)
        return Status::success();
    std::vector<std::string> paths;
    std::vector<bool> centred;
    for (int k = 0; k < pictures && k < pictureCount(); ++k) {
        const Item& item = m_items[std::size_t(k)];
        paths.push_back(item.path);
        // A gray picture is never centred, whatever its tick says.
        centred.push_back(item.autoCenter && !m_options.grayPrinting);
    }
    return LogoLog(*m_profile).write(paths, m_previousLogCount, centred);
}

StepResult NvUpload::finishLog()
{
    if (Status s = writeLog(pictureCount()); !s.ok())
        m_logWarning = s.message();
    m_outcome = Outcome::Completed;
    m_phase = Phase::Done;
    m_deps.connection.close();
    // Full only now: the printer has every byte and the port is closed.
    if (m_progress)
        m_progress->finish();
    m_deps.prompter.message(catalogText(Msg::NvDefinitionComplete), PromptIcon::Information);
    if (!m_logWarning.empty())
        m_deps.prompter.message("The pictures are in the printer, but the logo log could not be written:\r\n" +
                                m_logWarning);
    return StepResult::finished();
}

StepResult NvUpload::cutShort(std::size_t taken)
{
    const LogoPicture& picture = (*m_pictures)[std::size_t(m_sent)];
    const std::size_t whole = picture.header().size() + picture.raster.size();
    // Never less than one byte: the cut write may have delivered more than it could confirm
    // (a serial queue, a USB transfer in flight), and zeros beyond the picture are empty
    // pictures or ignored NULs.
    m_cutRemainder = whole - std::min(whole, taken);
    if (m_cutRemainder == 0)
        m_cutRemainder = 1;
    m_cancelRequested = true;
    return cancelled();
}

StepResult NvUpload::cancelled()
{
    // Pictures k+1..N are still announced by FS q n; the Cancel of the pages has always sent
    // N - k + 1 empty pictures (one more than is missing, which the printer takes as four
    // NULs after the definition and ignores). A picture cut mid-way is finished with zeros
    // first and counts as one of the k + 1.
    const int n = pictureCount();
    const int pads = n - m_sent + (m_cutRemainder > 0 ? 0 : 1);
    PrinterConnection& c = m_deps.connection;
    // The token that asked for this must not cut it; the printer's own stall ends it instead.
    ScopedCancelToken uncut(c, nullptr);
    const auto stallLimit = c.stallLimit();
    c.setStallLimit(std::min(stallLimit, kPaddingStall));
    const auto padFailed = [&](const IoResult& r, const std::string& what) {
        c.setStallLimit(stallLimit);
        m_paddingFailed = true;
        m_deps.prompter.message(catalogText(Msg::WriteToPortError));
        return fail(r.context("completing the cancelled definition (" + what + ")").message());
    };
    if (m_cutRemainder > 0) {
        const std::vector<uint8_t> rest(m_cutRemainder, 0x00);
        IoResult r = logo_link::send(c, rest);
        if (!r.ok())
            return padFailed(r, "the rest of picture " + std::to_string(m_sent + 1));
    }
    for (int i = 0; i < pads; ++i) {
        IoResult r = logo_link::send(c, logo_frames::emptyPicture());
        if (!r.ok())
            return padFailed(r, "empty picture " + std::to_string(i + 1) + " of " + std::to_string(pads));
    }
    c.setStallLimit(stallLimit);
    m_deps.clock.sleep(kCancelWait);
    c.close();
    m_outcome = Outcome::Cancelled;
    m_phase = Phase::Done;
    // The definition is complete: the printer holds the pictures sent whole and empty ones
    // for the rest (all empty when the define command itself was cut and may have erased
    // it). The log names what it holds, so the list shows that at the next opening.
    if (Status s = writeLog(m_defineCut ? 0 : m_sent); !s.ok())
        m_logWarning = s.message();
    return StepResult::finished();
}

NvClearResult clearNvLogos(LogoEngineDeps deps, bool askFirst)
{
    if (askFirst && !deps.prompter.ask(catalogText(Msg::DeleteAllImages), PromptIcon::Question))
        return {NvClearOutcome::Declined, {}};
    Status opened = openForNvDefinition(deps, true);
    if (!opened.ok())
        return {NvClearOutcome::Failed, opened.message()};
    IoResult r = logo_link::send(deps.connection, logo_frames::clearAll());
    deps.connection.close();
    if (!r.ok()) {
        deps.prompter.message(catalogText(Msg::WriteToPortError));
        return {NvClearOutcome::Failed, r.context("clear command").message()};
    }
    return {NvClearOutcome::Cleared, {}};
}
