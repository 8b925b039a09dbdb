#pragma once
// `tavro-sim decode FILE`: explains a captured byte stream (a print-to-file output) as the
// printer would take it, one line per command, and writes the NV pictures it defines as PNG.
#include <string>
#include <vector>

struct DecodeOptions {
    std::string file;
    std::string pngDir; // "" = <FILE>.nv beside the file
    int family = 1;
    bool json = false;
};

class CaptureDecoder {
public:
    // Largest capture it reads: an 8 MiB firmware block with room to spare.
    static constexpr size_t kMaxCapture = 64u << 20;

    // Decodes; every output line is appended to *lines. Returns false (with a reason in
    // *error) when the file cannot be read or a picture cannot be written.
    static bool decode(const DecodeOptions& options, std::vector<std::string>* lines, std::string* error);
    // The same over bytes already in memory, without writing pictures when pngDir is "".
    static void decodeBytes(const std::vector<uint8_t>& bytes, const DecodeOptions& options,
                            std::vector<std::string>* lines, std::vector<std::string>* pngFiles,
                            std::string* error);
};
