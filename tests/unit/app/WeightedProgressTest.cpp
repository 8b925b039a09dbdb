// The weighted bar: steps of different weight, positions as the job reports them (also out of
// order, repeated or past the end), checked to move only forward, to stay inside its step's
// share and to be full only once the job finishes.
#include "app/WeightedProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Recorder final : public ProgressSink {
public:
    void report(const ProgressReport& p) override { reports.push_back(p); }
    std::vector<ProgressReport> reports;
};

struct Position {
    std::size_t step;
    std::uint64_t at;
    std::uint64_t size;
    std::uint64_t expected; // the bar's units after this report
};

struct Case {
    const char* what;
    std::vector<std::uint64_t> weights;
    std::vector<Position> positions;
};

} // namespace

TEST(WeightedProgress, MovesOnlyForwardWithinEachStepAndIsFullOnlyAtTheEnd)
{
    const std::vector<Case> cases = {
        {"an upload: erase, 1000 bytes, the end",
         {125, 1000, 31},
         {{0, 0, 1, 0}, {1, 0, 1000, 125}, {1, 512, 1000, 637}, {1, 1000, 1000, 1125}, {2, 0, 1, 1125}}},
        {"a step reported again with less keeps the bar where it was",
         {10, 100, 10},
         {{1, 50, 100, 60}, {1, 20, 100, 60}, {0, 0, 1, 60}, {1, 51, 100, 61}}},
        {"the last step complete is still one unit short",
         {10, 100, 10},
         {{2, 10, 10, 119}, {2, 99, 10, 119}}},
        {"a position past the size counts as the whole step",
         {5, 300, 10},
         {{1, 400, 300, 305}}},
        {"a step past the last counts as the last",
         {5, 30, 10},
         {{7, 5, 10, 40}}},
        {"weights of zero are steps the bar does not show",
         {0, 50, 0},
         {{0, 0, 1, 0}, {1, 25, 50, 25}, {2, 0, 1, 49}}},
        {"a job of a single unit stays at 0 until it finishes",
         {1},
         {{0, 1, 1, 0}}},
        {"a byte count beyond 32 bits scales without overflow",
         {1ull << 40, 1ull << 40},
         {{1, 3ull << 60, 1ull << 62, (1ull << 40) + (3ull << 38)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder sink;
        WeightedProgress progress(sink, c.weights);
        std::uint64_t total = 0;
        for (auto w : c.weights)
            total += w;
        EXPECT_EQ(progress.total(), total);
        std::uint64_t previous = 0;
        for (std::size_t i = 0; i < c.positions.size(); ++i) {
            const Position& p = c.positions[i];
            progress.at(p.step, p.at, p.size, "step " + std::to_string(p.step));
            ASSERT_EQ(sink.reports.size(), i + 1);
            const ProgressReport& r = sink.reports.back();
            EXPECT_EQ(r.done, p.expected) << "report " << i;
            EXPECT_EQ(r.total, total);
            EXPECT_GE(r.done, previous) << "report " << i << " went back";
            EXPECT_LT(r.done, total) << "report " << i << " is full before the end";
            EXPECT_EQ(r.text, "step " + std::to_string(p.step));
            previous = r.done;
        }
        progress.finish("done");
        EXPECT_EQ(sink.reports.back().done, total);
        EXPECT_EQ(sink.reports.back().text, "done");
        // After the end nothing takes the bar back.
        progress.at(0, 0, 1);
        EXPECT_EQ(sink.reports.back().done, total);
    }
}
