#pragma once
// Progress of a job made of steps of different nature (a wait for the printer to erase, blocks
// written, a final wait), shown as one bar. Each step has a weight in the job's units; a
// step's own position (bytes written, pictures printed) moves the bar through its share. The
// bar only ever moves forward, and it reaches the end only when the job says it has finished,
// so a job that is still waiting for the printer never shows 100 %.
//
// Positions are what the printer took: a caller reports bytes the connection said it wrote,
// never bytes it is about to write.
//
// Threads: the job's thread only (the sink it reports to may marshal elsewhere).
#include "app/Progress.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class WeightedProgress {
public:
    // One weight per step, in the units the reports count (a weight of 0 is a step the bar
    // does not show). The total reported is the sum of the weights.
    WeightedProgress(ProgressSink& sink, std::vector<std::uint64_t> weights)
        : m_sink(&sink), m_weights(std::move(weights))
    {
        for (std::uint64_t w : m_weights)
            m_total += w;
    }

    std::uint64_t total() const { return m_total; }
    std::uint64_t done() const { return m_done; }

    // Step `step` (0-based) has reached `position` of `size`. Earlier steps count as done;
    // a position at or past the size counts as the whole step, but the bar stays one unit
    // short of the total until finish(). A step number past the last counts as the last one.
    // An empty text leaves the status line as it is.
    void at(std::size_t step, std::uint64_t position, std::uint64_t size, std::string text = {})
    {
        if (m_weights.empty())
            return;
        step = std::min(step, m_weights.size() - 1);
        std::uint64_t start = 0;
        for (std::size_t i = 0; i < step; ++i)
            start += m_weights[i];
        const std::uint64_t weight = m_weights[step];
        std::uint64_t within = weight;
        if (size > 0 && position < size)
            within = scaled(weight, position, size);
        advanceTo(start + within, std::move(text));
    }

    // The job has ended (everything sent, the final wait over): the bar is full.
    void finish(std::string text = {})
    {
        m_finished = true;
        m_done = m_total;
        m_sink->report({m_done, m_total, std::move(text)});
    }

private:
    // weight * position / size without overflow for any 64-bit byte count.
    static std::uint64_t scaled(std::uint64_t weight, std::uint64_t position, std::uint64_t size)
    {
        return static_cast<std::uint64_t>(static_cast<unsigned __int128>(weight) * position / size);
    }

    void advanceTo(std::uint64_t value, std::string text)
    {
        if (!m_finished) {
            // One unit short of the end until the job finishes (a total of 1 stays at 0).
            const std::uint64_t cap = m_total > 0 ? m_total - 1 : 0;
            m_done = std::max(m_done, std::min(value, cap));
        }
        m_sink->report({m_done, m_total, std::move(text)});
    }

    ProgressSink* m_sink;
    std::vector<std::uint64_t> m_weights;
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
    bool m_finished = false;
};
