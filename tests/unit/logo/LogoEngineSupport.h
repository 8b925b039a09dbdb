#pragma once
// What the engine tests share: a host (prompter, test clock, error log, progress recorder),
// a recording connection and BMP files of a given size.
#include "BmpBuilder.h"
#include "RecordingConnection.h"
#include "RecordingPrompter.h"
#include "TempDir.h"
#include "TestClock.h"
#include "app/CErrorLog.h"
#include "app/Progress.h"
#include "logo/LogoLink.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class RecordingProgress final : public ProgressSink {
public:
    void report(const ProgressReport& p) override { reports.push_back(p); }
    std::vector<ProgressReport> reports;
};

class LogoEngineHost {
public:
    explicit LogoEngineHost(PortKind kind) : connection(kind, &clock), log(&clock)
    {
        log.Open((dir / "error.log").string());
    }

    LogoEngineDeps deps() { return {connection, clock, prompter, log, progress}; }

    // A 24-bit W x H picture, black and white stripes so that the raster is not all zero.
    std::string picture(const std::string& name, int w, int h)
    {
        BmpSpec s;
        s.bpp = 24;
        s.width = w;
        s.height = h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                s.pixels.push_back(((x / 3 + y / 2) % 2) ? 0xFFFFFF : 0x000000);
        auto file = dir / name;
        writeFileBytes(file, asString(buildBmp(s)));
        return file.string();
    }

    std::string errorLog()
    {
        log.Close();
        std::ifstream in(dir / "error.log");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    TempDir dir;
    TestClock clock;
    RecordingPrompter prompter;
    RecordingConnection connection;
    CErrorLog log;
    RecordingProgress progress;
};

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
