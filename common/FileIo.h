#pragma once
// Whole-file reads with a size cap and all-or-nothing file replacement, for every file the
// tool and the virtual printer keep or take in (profile, logo files, captures, PNGs, state).
// Any thread; no global state.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

struct FileOutcome {
    enum class Fault {
        None,
        Missing,    // no such file (reading) or no such folder (writing)
        NotRegular, // a folder, a device, a pipe: never read as a file
        TooLarge,   // more bytes than the caller's cap
        Io          // any other system error; see error
    };
    Fault fault = Fault::None;
    int error = 0;       // errno of the failing call, 0 when there was none
    std::string message; // "<path>: <reason>", empty on success

    bool ok() const { return fault == Fault::None; }
    explicit operator bool() const { return ok(); }
};

// Reads the whole regular file into *out (replacing its content). Fails without reading
// past maxBytes + 1 when the file is larger than maxBytes, also when it grows while being
// read. On failure *out is empty.
FileOutcome readWholeFile(const std::filesystem::path& file, std::uintmax_t maxBytes, std::string* out);
FileOutcome readWholeFile(const std::filesystem::path& file, std::uintmax_t maxBytes, std::vector<std::uint8_t>* out);

// Replaces the file with exactly these bytes, so that any reader (and the file after a
// crash or a power cut at any moment) sees the old content whole or the new content whole:
// a temporary file in the same folder, written and flushed to disk, renamed over the file,
// then the folder flushed. A symbolic link is followed and its target replaced. An existing
// file keeps its permission bits; a new one gets 0666 less the umask. Temporary files that
// an earlier save left behind (its process was killed) are removed. On failure the file is
// as it was and no temporary file remains.
FileOutcome writeFileAtomically(const std::filesystem::path& file, std::string_view bytes);

// The name prefix of this file's temporary files (".<name>.tmp-"), so that a test or a
// clean-up can recognise them.
std::string atomicTempPrefix(const std::filesystem::path& file);
