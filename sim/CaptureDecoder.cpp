#include "sim/CaptureDecoder.h"

#include "sim/CommandInterpreter.h"

#include "common/FileIo.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class DecodeSink final : public InterpreterSink {
public:
    DecodeSink(std::vector<std::string>* lines, bool json) : m_lines(lines), m_json(json) {}
    void reply(const std::vector<uint8_t>&) override {}
    void event(SimEvent e) override
    {
        ++m_count;
        m_lines->push_back(m_json ? e.toJson({{"seq", m_count}}) : e.toText());
    }
    void restart(const std::string& reason) override
    {
        m_lines->push_back(m_json ? SimEvent("restart").str("reason", reason).toJson()
                                  : SimEvent("restart").str("reason", reason).toText());
    }

private:
    std::vector<std::string>* m_lines;
    bool m_json;
    long m_count = 0;
};

} // namespace

void CaptureDecoder::decodeBytes(const std::vector<uint8_t>& bytes, const DecodeOptions& options,
                                 std::vector<std::string>* lines, std::vector<std::string>* pngFiles,
                                 std::string* error)
{
    PrinterState state(options.family);
    state.pictures.clear();
    DecodeSink sink(lines, options.json);
    CommandInterpreter interpreter(state, sink);
    interpreter.feed(bytes);
    interpreter.finish();
    if (!state.picturesDirty || options.pngDir.empty())
        return;
    std::error_code ec;
    fs::create_directories(options.pngDir, ec);
    if (ec) {
        if (error)
            *error = "cannot create " + options.pngDir + ": " + ec.message();
        return;
    }
    for (size_t i = 0; i < state.pictures.size(); ++i) {
        const NvPicture& p = state.pictures[i];
        if (p.empty())
            continue;
        std::string path = (fs::path(options.pngDir) / ("nv-" + std::to_string(i + 1) + ".png")).string();
        std::string why;
        if (!p.writePng(path, &why)) {
            if (error)
                *error = why;
            return;
        }
        if (pngFiles)
            pngFiles->push_back(path);
        lines->push_back("png k=" + std::to_string(i + 1) + " width=" + std::to_string(p.widthDots()) +
                         " height=" + std::to_string(p.heightDots()) + " file=" + path);
    }
}

bool CaptureDecoder::decode(const DecodeOptions& options, std::vector<std::string>* lines, std::string* error)
{
    std::vector<uint8_t> bytes;
    FileOutcome read = readWholeFile(options.file, kMaxCapture, &bytes);
    if (!read) {
        if (error)
            *error = read.fault == FileOutcome::Fault::TooLarge
                         ? options.file + " is larger than " + std::to_string(kMaxCapture >> 20) + " MiB"
                         : "cannot read " + read.message;
        return false;
    }
    DecodeOptions o = options;
    if (o.pngDir.empty())
        o.pngDir = options.file + ".nv";
    std::string why;
    decodeBytes(bytes, o, lines, nullptr, &why);
    if (!why.empty()) {
        if (error)
            *error = why;
        return false;
    }
    return true;
}
