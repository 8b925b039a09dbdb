#include "logo/BitmapList.h"

#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "logo/BmpImage.h"
#include "logo/LogoLog.h"
#include "logo/LogoPicture.h"
#include "logo/LogoRasterizer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

template <class... Args>
std::string format(const char* fmt, Args... args)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

// The file name: the part after the last folder separator (both kinds, so that logs
// written with Windows paths still show names).
std::string baseName(const std::string& path)
{
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

BitmapList::BitmapList(Prompter& prompter, const LogoOptions& options)
    : m_prompter(prompter), m_options(options)
{
    refreshTexts();
}

void BitmapList::refreshTexts()
{
    m_countText = format("%3d / 255", fileCount());
    if (m_entries.empty())
        m_sizeText = format("  0 / %3d KByte", kNvLimitKB);
    else
        m_sizeText = format("%3ld / %3d KByte", long(usedKB()), kNvLimitKB);
}

bool BitmapList::numberInUse(int number) const { return rowOfNumber(number) >= 0; }

void BitmapList::recordFree(int number)
{
    if (number < 1 || number > kMaxFiles)
        return;
    // Numbers before the read position are already given out again: drop them, so that
    // sorting a new number in front of them cannot hand one out twice.
    m_free.erase(m_free.begin(), m_free.begin() + std::ptrdiff_t(m_freePos));
    m_freePos = 0;
    if (std::find(m_free.begin(), m_free.end(), number) == m_free.end())
        m_free.push_back(number);
    std::sort(m_free.begin(), m_free.end());
}

void BitmapList::recordFailed(int number, Msg catalogEntry)
{
    const bool first = m_failed.empty();
    m_failed.push_back(number);
    if (first)
        m_prompter.message(catalogText(catalogEntry), PromptIcon::Exclamation);
}

bool BitmapList::addFile(const std::string& path, int number)
{
    m_lastError.clear();
    if (fileCount() >= kMaxFiles) {
        m_lastError = "the list already holds " + std::to_string(kMaxFiles) + " files";
        m_prompter.message(catalogText(Msg::CannotReadMoreFiles));
        return false;
    }

    BmpFault fault = BmpFault::None;
    auto image = BmpImage::load(path, &fault);
    if (!image.ok()) {
        m_lastError = image.message();
        if (number >= 1) {
            // A log entry: its number becomes free for the user's next files, and the user
            // hears once per restore that the log no longer matches the files.
            recordFailed(number, Msg::LogBitmapsIncorrect);
        } else {
            const Msg entry = fault == BmpFault::CannotRead ? Msg::FileOpenError : Msg::BitmapFormatNotSupported;
            m_prompter.message(std::string(catalogText(entry)) + "\r\n(" + image.message() + ")");
        }
        return false;
    }

    const std::string name = baseName(path);
    // A picture the upload could not send whole is refused here, while nothing has been
    // sent: found only during an upload, it would stop it after FS q n had erased the
    // printer's pictures.
    if (Status fits = checkNvPictureLimits(uint64_t(image->width()), uint64_t(image->height()), m_options);
        !fits.ok()) {
        m_lastError = name + ": " + fits.message();
        if (number >= 1)
            recordFailed(number, Msg::LogBitmapsIncorrect);
        else
            m_prompter.message(std::string(catalogText(Msg::BitmapFormatNotSupported)) + "\r\n(" + m_lastError + ")");
        return false;
    }
    const int64_t size = int64_t(LogoRasterizer::predictedSize(uint64_t(image->width()), uint64_t(image->height()),
                                                               m_options.grayPrinting));
    if (int64_t(kNvLimitKB) * 1024 < m_totalBytes + size) {
        m_lastError = name + " needs " + std::to_string(size) + " bytes, " +
                      std::to_string(int64_t(kNvLimitKB) * 1024 - m_totalBytes) + " bytes of NV memory are left";
        if (number >= 1)
            recordFailed(number, Msg::LogBitmapsMismatch);
        else
            m_prompter.message(catalogText(Msg::NvAreaTooSmall));
        return false;
    }

    int assigned;
    if (m_freePos < m_free.size()) {
        assigned = m_free[m_freePos++];
        if (m_freePos >= m_free.size()) {
            m_free.clear();
            m_freePos = 0;
        }
    } else if (number >= 1) {
        assigned = number;
    } else {
        assigned = fileCount() + 1;
    }
    if (numberInUse(assigned)) {
        // A number the list already holds would make two pictures one in the printer; the
        // lowest unused number keeps them apart (there is one: the list is not full).
        for (assigned = 1; numberInUse(assigned); ++assigned) {
        }
    }

    try {
        m_entries.push_back({format("%3d", assigned), name, format("%15d", int(size)), path});
    } catch (const std::bad_alloc&) {
        m_lastError = "out of memory";
        m_prompter.message(catalogText(Msg::OutOfMemory), PromptIcon::Error);
        return false;
    }
    m_totalBytes += size;
    refreshTexts();
    return true;
}

bool BitmapList::removeNumber(int number)
{
    int row = rowOfNumber(number);
    if (row < 0)
        return false;
    recordFree(number);
    m_totalBytes -= sizeBytes(row);
    m_entries.erase(m_entries.begin() + row);
    if (m_selected && *m_selected >= fileCount())
        m_selected.reset();
    refreshTexts();
    return true;
}

void BitmapList::reset()
{
    m_entries.clear();
    m_totalBytes = 0;
    m_free.clear();
    m_freePos = 0;
    m_failed.clear();
    m_selected.reset();
    m_lastError.clear();
    refreshTexts();
}

int BitmapList::restoreFromLog(Profile& profile)
{
    const auto paths = LogoLog(profile).read();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        // A full list refuses every further key with the same message; one is enough.
        const bool full = fileCount() >= kMaxFiles;
        addFile(paths[i], int(i) + 1);
        if (full)
            break;
    }
    return int(paths.size());
}

void BitmapList::reuseFailedNumbers()
{
    for (int n : m_failed)
        recordFree(n);
    m_failed.clear();
}

void BitmapList::scaleForGrayPrinting(bool on)
{
    for (auto& e : m_entries) {
        int64_t size = std::strtoll(e.size.c_str(), nullptr, 10);
        e.size = std::to_string(on ? size * 4 : size / 4);
    }
    m_totalBytes = on ? m_totalBytes * 4 : m_totalBytes / 4;
    m_sizeText = format("%3ld / %3ld KByte", long(m_totalBytes / 1024), long(kNvLimitKB));
}

int BitmapList::imageNumber(int row) const
{
    if (row < 0 || row >= fileCount())
        return 0;
    return std::atoi(m_entries[std::size_t(row)].number.c_str());
}

int64_t BitmapList::sizeBytes(int row) const
{
    if (row < 0 || row >= fileCount())
        return 0;
    return std::strtoll(m_entries[std::size_t(row)].size.c_str(), nullptr, 10);
}

int BitmapList::rowOfNumber(int number) const
{
    for (int row = 0; row < fileCount(); ++row)
        if (imageNumber(row) == number)
            return row;
    return -1;
}

std::vector<int> BitmapList::uploadOrder() const
{
    std::vector<int> rows(m_entries.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = int(i);
    std::stable_sort(rows.begin(), rows.end(), [this](int a, int b) { return imageNumber(a) < imageNumber(b); });
    return rows;
}
