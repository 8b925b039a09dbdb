// tavroctl's progress display: what a technician sees on a terminal, what a script gets
// with --json, and that a log file gets nothing.
#include "cli/CliProgress.h"
#include "cli/JsonLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace std::chrono;

namespace {

struct FakeTime {
    steady_clock::time_point t{};
    CliProgress::Now fn()
    {
        return [this] { return t; };
    }
};

} // namespace

TEST(CliProgress, BarShowsPercentRateAndTimeLeft)
{
    // 50 kB of 100 kB in 5 s: 10.0 kB/s, 5 s to go.
    std::string line = CliProgress::barLine({51200, 102400, "Updating(1/2)...logo.bmp"}, milliseconds(5000), 0);
    EXPECT_EQ(line, "[############------------]  50%  10.0 kB/s  0:05 left  Updating(1/2)...logo.bmp");
    // Done: no time left, the bar full.
    line = CliProgress::barLine({1000, 1000, ""}, milliseconds(2000), 0);
    EXPECT_EQ(line, "[########################] 100%  500 B/s");
    // A count beyond the total (a late report) never draws past the bar's end.
    line = CliProgress::barLine({1200, 1000, ""}, milliseconds(0), 0);
    EXPECT_EQ(line, "[########################] 100%");
    // Unknown total: the count only.
    EXPECT_EQ(CliProgress::barLine({77, 0, ""}, milliseconds(0), 0), "77 bytes");
    // The rate counts only what moved since timing began.
    line = CliProgress::barLine({3000, 4000, ""}, milliseconds(1000), 2000);
    EXPECT_NE(line.find("1000 B/s  0:01 left"), std::string::npos) << line;
}

TEST(CliProgress, JsonIsOneLinePerReportWithQuotedText)
{
    std::ostringstream out;
    CliProgress p(CliProgress::Mode::Json, out);
    p.report({0, 10, "a \"b\""});
    p.report({10, 10, ""});
    EXPECT_EQ(out.str(), "{\"progress\":{\"done\":0,\"total\":10,\"text\":\"a \\\"b\\\"\"}}\n"
                         "{\"progress\":{\"done\":10,\"total\":10,\"text\":\"\"}}\n");
}

// Every --json line is valid UTF-8 JSON: Korean text as it is, bytes that are not UTF-8 (a
// file name from an old system) as U+FFFD, keys in the order written.
TEST(CliProgress, JsonLinesAreValidUtf8WhateverTheText)
{
    std::ostringstream out;
    CliProgress p(CliProgress::Mode::Json, out);
    p.report({1, 2, "로고 \xC0\xFF.bmp"});
    const std::string line = out.str();
    ASSERT_TRUE(nlohmann::json::accept(line)) << line;
    const std::string text = nlohmann::json::parse(line)["progress"]["text"];
    EXPECT_EQ(text.rfind("로고 \uFFFD", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 4), ".bmp");
    EXPECT_NE(line.find("로고"), std::string::npos) << "Korean stays readable, not escaped";
    EXPECT_EQ(toJsonLine({{"z", 1}, {"a", nullptr}, {"m", {1, 2}}}), "{\"z\":1,\"a\":null,\"m\":[1,2]}");
}

TEST(CliProgress, SilentWritesNothingAndBarRedrawsInPlace)
{
    std::ostringstream silent;
    {
        CliProgress p(CliProgress::Mode::Silent, silent);
        p.report({5, 10, "x"});
        p.finish();
    }
    EXPECT_TRUE(silent.str().empty());

    std::ostringstream out;
    FakeTime time;
    {
        CliProgress p(CliProgress::Mode::Bar, out, time.fn());
        p.report({0, 100, ""});
        time.t += milliseconds(10);
        p.report({10, 100, ""}); // within the redraw period: not drawn
        time.t += milliseconds(200);
        p.report({50, 100, ""});
        time.t += milliseconds(1);
        p.report({100, 100, ""}); // the last one is always drawn, and ends the line
    }
    std::string s = out.str();
    EXPECT_EQ(std::count(s.begin(), s.end(), '\r'), 3) << s;
    EXPECT_EQ(s.find(" 10%"), std::string::npos) << s;
    EXPECT_NE(s.find("100%"), std::string::npos);
    EXPECT_EQ(s.back(), '\n');
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 1) << "the destructor must not add a second newline";
}
