#pragma once
// A ProgressSink for a window: reports from the GUI thread are shown at once; reports from a
// worker are handed to the GUI thread with a queued call. A worker that reports faster than
// the window paints (the upload reports after every 512-byte block) does not flood the event
// queue: reports that arrive while one is still on its way are merged into it (the newest
// numbers, the newest non-empty text).
//
// Lifetime: `context` is the window; a queued report is dropped when the window or this sink
// is gone. Whoever runs the job stops it before either goes, so that no report is being made
// while they are destroyed.
#include "app/Progress.h"

#include <functional>
#include <memory>

class QObject;

class QtProgressSink final : public ProgressSink {
public:
    using Show = std::function<void(const ProgressReport&)>;
    // Create it on the GUI thread; `show` runs there.
    QtProgressSink(QObject* context, Show show);
    ~QtProgressSink() override;
    QtProgressSink(const QtProgressSink&) = delete;
    QtProgressSink& operator=(const QtProgressSink&) = delete;

    // Any thread.
    void report(const ProgressReport& progress) override;

private:
    struct Shared;
    QObject* m_context;
    std::shared_ptr<Shared> m_shared;
};
