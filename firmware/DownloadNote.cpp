#include "firmware/DownloadNote.h"

#include "app/Prompter.h"
#include "common/FileIo.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = "firmware-download-";
constexpr const char* kSuffix = ".note";
// A note is a dozen short lines; anything larger is not ours.
constexpr std::uintmax_t kMaxNoteBytes = 16 * 1024;

std::string nowText()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", &tm);
    return buf;
}

// One line per value: a value never holds a line break.
std::string oneLine(std::string s)
{
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return s;
}

bool parseNumber(const std::string& text, std::uint32_t* out)
{
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && p == end && !text.empty();
}

} // namespace

fs::path downloadNoteFile(const fs::path& folder, const std::string& connection)
{
    std::string name;
    for (char c : connection) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        name += plain ? c : '_';
    }
    // Different connections whose plain names come out alike still get notes of their own.
    std::uint32_t h = 2166136261u;
    for (unsigned char c : connection)
        h = (h ^ c) * 16777619u;
    char hash[12];
    std::snprintf(hash, sizeof hash, "-%08x", h);
    if (name.size() > 80)
        name.resize(80);
    return folder / (kPrefix + name + hash + kSuffix);
}

Status writeDownloadNote(const fs::path& file, const DownloadNote& note)
{
    std::ostringstream out;
    out << "# An unfinished firmware download (tavroset/tavroctl show this at start).\n"
        << "area=" << oneLine(note.place.areaName) << "\n"
        << "image=" << oneLine(note.place.imageFile) << "\n"
        << "connection=" << oneLine(note.place.connection) << "\n"
        << "phase=" << writePhaseName(note.state.phase) << "\n"
        << "start=" << note.state.start << "\n"
        << "end=" << note.state.end << "\n"
        << "reached=" << note.state.reached << "\n"
        << "reported=" << (note.reported ? 1 : 0) << "\n"
        << "started=" << oneLine(note.startedAt) << "\n";
    FileOutcome saved = writeFileAtomically(file, out.str());
    if (!saved)
        return Status::failure("cannot write the download note " + saved.message);
    return Status::success();
}

Result<DownloadNote> readDownloadNote(const fs::path& file)
{
    std::string text;
    if (FileOutcome read = readWholeFile(file, kMaxNoteBytes, &text); !read)
        return Result<DownloadNote>::failure("cannot read " + read.message);
    DownloadNote note;
    bool haveArea = false, havePhase = false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            return Result<DownloadNote>::failure(file.string() + ": not a note line: \"" + line.substr(0, 60) + "\"");
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        bool ok = true;
        if (key == "area") {
            note.place.areaName = value;
            haveArea = !value.empty();
        } else if (key == "image") {
            note.place.imageFile = value;
        } else if (key == "connection") {
            note.place.connection = value;
        } else if (key == "phase") {
            auto phase = writePhaseFromName(value);
            ok = phase.has_value();
            if (ok)
                note.state.phase = *phase;
            havePhase = ok;
        } else if (key == "start") {
            ok = parseNumber(value, &note.state.start);
        } else if (key == "end") {
            ok = parseNumber(value, &note.state.end);
        } else if (key == "reached") {
            ok = parseNumber(value, &note.state.reached);
        } else if (key == "reported") {
            note.reported = value == "1";
        } else if (key == "started") {
            note.startedAt = value;
        }
        if (!ok)
            return Result<DownloadNote>::failure(file.string() + ": bad value for " + key + ": \"" + value.substr(0, 60) + "\"");
    }
    if (!haveArea || !havePhase || note.state.end < note.state.start || note.state.reached > note.state.end)
        return Result<DownloadNote>::failure(file.string() + ": not a complete download note");
    return note;
}

std::string downloadNoteText(const DownloadNote& note, bool korean)
{
    std::string lead;
    if (korean)
        lead = note.reported ? "이 PC에서 " + note.startedAt + "에 시작한 펌웨어 다운로드가 중간에 끝났고, 그 뒤로 이 영역이 다시 다운로드되지 않았습니다."
                             : "이 PC에서 " + note.startedAt + "에 시작한 펌웨어 다운로드가 끝나지 못했습니다(프로그램이 도중에 종료되었습니다).";
    else
        lead = note.reported ? "A firmware download started on this PC at " + note.startedAt +
                                   " ended early, and the area has not been downloaded again since."
                             : "A firmware download started on this PC at " + note.startedAt +
                                   " did not finish (the program was ended during it).";
    // A killed download knows only that the area's erase or write had begun.
    return earlyEndMessage(note.state, note.place, lead, korean);
}

std::vector<std::string> downloadNoticesIn(const fs::path& folder, bool korean)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kPrefix, 0) == 0 && name.size() > std::string(kSuffix).size() &&
            name.compare(name.size() - std::string(kSuffix).size(), std::string::npos, kSuffix) == 0)
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> texts;
    for (const fs::path& f : files) {
        auto note = readDownloadNote(f);
        if (note)
            texts.push_back(downloadNoteText(*note, korean));
        else
            texts.push_back(korean ? "펌웨어 다운로드 메모를 읽을 수 없습니다: " + note.message()
                                   : "A note of an unfinished firmware download cannot be read: " + note.message());
    }
    return texts;
}

void showDownloadNotices(Prompter& prompter, const fs::path& folder, bool korean)
{
    for (const std::string& text : downloadNoticesIn(folder, korean))
        prompter.show(text, PromptButtons::Ok, PromptIcon::Exclamation, kAppDisplayName);
}

DownloadNoteKeeper::DownloadNoteKeeper(fs::path folder, DownloadPlace place)
{
    if (!folder.empty())
        m_file = downloadNoteFile(folder, place.connection);
    m_note.place = std::move(place);
}

void DownloadNoteKeeper::stateChanged(const AreaWriteState& state)
{
    std::lock_guard lock(m_mutex);
    // Written once, when the area comes at stake: the note is for a download that cannot
    // tell what happened, so the moment it began is what it needs.
    if (m_file.empty() || m_written || !state.incomplete())
        return;
    m_note.state = state;
    m_note.startedAt = nowText();
    m_note.reported = false;
    if (Status s = writeDownloadNote(m_file, m_note); !s)
        m_error = s.message();
    m_written = true;
}

void DownloadNoteKeeper::ended(const AreaWriteState& state)
{
    std::lock_guard lock(m_mutex);
    if (m_file.empty())
        return;
    if (state.complete()) {
        // Only a note of this area: another area's unfinished download still stands.
        auto old = readDownloadNote(m_file);
        std::error_code ec;
        if (!old || old->place.areaName == m_note.place.areaName)
            fs::remove(m_file, ec);
        return;
    }
    if (!state.started())
        return;
    m_note.state = state;
    m_note.reported = true;
    if (m_note.startedAt.empty())
        m_note.startedAt = nowText();
    if (Status s = writeDownloadNote(m_file, m_note); !s)
        m_error = s.message();
}

std::string DownloadNoteKeeper::lastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}
