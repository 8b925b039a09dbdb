#pragma once
// The logo tool's model of the printer's NV bit-image memory: up to 255 BMP files, each with
// the image number the printer will store it under, its name, its predicted NV size and
// its path, plus the count and size texts every logo page shows. Refusals are told to the
// user through the Prompter with the catalog's texts and leave the list as it was.
//
// Used on the thread that owns the logo tool's windows (or the CLI's main thread).
#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "logo/LogoOptions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Profile;

class BitmapList final {
public:
    static constexpr int kMaxFiles = 255;
    // NV bit-image budget of every model, in KB (the TAVRO36/38 notice is the pages' job).
    static constexpr int kNvLimitKB = 384;

    // The four columns, as text, in the formats the pages show.
    struct Entry {
        std::string number; // "%3d"
        std::string name;   // file name without folders
        std::string size;   // "%15d" (the gray toggle rewrites it with "%d")
        std::string path;   // full path
    };

    // The options decide whether sizes count four times (gray printing).
    BitmapList(Prompter& prompter, const LogoOptions& options);

    // Adds a file; `number` is the log key index when the file comes from the logo log, 0
    // when the user chose it. False, with the reason told to the user, when refused.
    bool addFile(const std::string& path, int number);
    // Removes the entry with that image number and frees the number. False when there is
    // no such entry.
    bool removeNumber(int number);
    // Empties the list, its counters, free numbers and failed log entries.
    void reset();
    // Adds the files of the logo log (keys 1, 2, ... up to the first missing or empty one)
    // with their key index as number. Returns the number of keys read, which the next
    // upload needs to delete stale keys.
    int restoreFromLog(Profile& profile);
    // Makes the numbers of failed log entries free for the files the user adds next.
    void reuseFailedNumbers();
    // The "Use Gray Printing" toggle: every size and the total times 4 (on) or divided by 4
    // (off); the sizes are rewritten with "%d" and the size text with total/1024 unrounded.
    void scaleForGrayPrinting(bool on);

    const std::vector<Entry>& entries() const { return m_entries; }
    int fileCount() const { return int(m_entries.size()); }
    int64_t totalBytes() const { return m_totalBytes; }
    // total / 1024, rounded up.
    int64_t usedKB() const { return m_totalBytes / 1024 + (m_totalBytes % 1024 ? 1 : 0); }
    const std::string& countText() const { return m_countText; }
    const std::string& sizeText() const { return m_sizeText; }

    // Parsed columns of a row (0-based); 0 for a row outside the list.
    int imageNumber(int row) const;
    int64_t sizeBytes(int row) const;
    // The row holding an image number, or -1.
    int rowOfNumber(int number) const;
    // The rows in upload order: ascending image number (also the order of the logo log).
    std::vector<int> uploadOrder() const;

    const std::vector<int>& freeNumbers() const { return m_free; }
    std::size_t freeReadPosition() const { return m_freePos; }
    const std::vector<int>& failedLogEntries() const { return m_failed; }

    std::optional<int> selectedRow() const { return m_selected; }
    void setSelectedRow(std::optional<int> row) { m_selected = row; }

    // The detailed reason of the last refusal (for the CLI and the error log); empty after
    // a success.
    const std::string& lastError() const { return m_lastError; }

private:
    void refreshTexts();
    void recordFree(int number);
    void recordFailed(int number, Msg catalogEntry);
    bool numberInUse(int number) const;

    Prompter& m_prompter;
    const LogoOptions& m_options;
    std::vector<Entry> m_entries;
    int64_t m_totalBytes = 0;
    std::vector<int> m_free;
    std::size_t m_freePos = 0;
    std::vector<int> m_failed;
    std::string m_countText;
    std::string m_sizeText;
    std::optional<int> m_selected;
    std::string m_lastError;
};
