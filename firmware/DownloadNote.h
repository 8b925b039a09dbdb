#pragma once
// A download that is killed (kill -9, a power cut of the PC) cannot tell anyone that it left
// the printer with half an area. So a download writes a small note into the folder the
// profile lives in when the area's erase or write begins, one note per connection, and the
// next start of tavroctl or tavroset shows what it says.
//
// The note goes when a download of the same area over the same connection completes. A
// download that ended early and said so keeps its note (marked as told): the printer still
// has the incomplete area and stays flagged at each start until it is downloaded again. A
// download that never reached the printer leaves an older note as it was.
//
// Threads: any; nothing is shared but the files.
#include "app/Result.h"
#include "firmware/AreaWriteState.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

struct DownloadNote {
    DownloadPlace place;
    AreaWriteState state;
    bool reported = false;  // the early end was shown to the user
    std::string startedAt;  // "2026-12-09 13:40 UTC"
};

// The note file of a connection in the folder: "firmware-download-<connection>.note".
std::filesystem::path downloadNoteFile(const std::filesystem::path& folder, const std::string& connection);
Status writeDownloadNote(const std::filesystem::path& file, const DownloadNote& note);
// Fails with the file and the reason (unreadable, too large, a line that does not parse).
Result<DownloadNote> readDownloadNote(const std::filesystem::path& file);

// What the user is shown at start for one note, in English or Korean.
std::string downloadNoteText(const DownloadNote& note, bool korean);
// Every note in the folder, as the texts to show (a note that cannot be read is shown as
// such, with its file, and never stops the program). Empty when there are none.
std::vector<std::string> downloadNoticesIn(const std::filesystem::path& folder, bool korean);

class Prompter;
// Shows each note of the folder in a message box (the programs' start).
void showDownloadNotices(Prompter& prompter, const std::filesystem::path& folder, bool korean);

// Keeps the note of one download: the engine's state hook writes it when the area's erase or
// write begins; ended() then removes or keeps it. A keeper with an empty folder does
// nothing. Failures to write go to lastError() and never stop the download.
class DownloadNoteKeeper {
public:
    DownloadNoteKeeper(std::filesystem::path folder, DownloadPlace place);

    // The engines' stateChanged hook (any thread).
    void stateChanged(const AreaWriteState& state);
    // The download ended and the user was told how: complete removes the note, an early end
    // that touched the area keeps it (marked as told), one that did not leaves it alone.
    void ended(const AreaWriteState& state);
    std::string lastError() const;
    const std::filesystem::path& file() const { return m_file; }

private:
    std::filesystem::path m_file;
    DownloadNote m_note;
    bool m_written = false;
    mutable std::mutex m_mutex;
    std::string m_error;
};
