#pragma once
// After a complete download the printer writes its flash and starts the new firmware; until
// then it answers nothing. This job asks it, again and again up to a time limit, with the
// printer check the tools send before a job (GS I 1) and takes any answer byte as "it runs
// again". Only where the printer's answers reach the tool (not into a file, not over a
// parallel port, whose back channel carries no answer to it).
//
// Threads: step() on the driver's thread (the dialog's worker, the CLI); cancel() from any
// thread.
#include "app/CancelToken.h"
#include "app/Clock.h"
#include "app/StepJob.h"
#include "port/PrinterConnection.h"

#include <atomic>
#include <chrono>
#include <string>

struct PrinterReadyOptions {
    using Ms = std::chrono::milliseconds;
    // How long to keep asking (tavroctl --ready-timeout).
    Ms timeout{60000};
    // How long one question waits for its answer.
    Ms answerWait{500};
    // The pause between questions (the printer restarts meanwhile; a USB node comes back).
    Ms pause{500};
};

enum class PrinterReady {
    Answered,  // the printer answered the check
    NoAnswer,  // it did not within the time
    Cancelled, // the user stopped waiting
    NotAsked,  // the connection carries no answer, or no wait was asked for
};

// Whether the printer behind these traits can be asked at all.
bool printerCanBeAsked(const ConnectionTraits& traits);

class PrinterReadyJob final : public StepJob {
public:
    // The connection may be closed or open; the job closes it when it ends.
    PrinterReadyJob(PrinterConnection& connection, Clock& clock, PrinterReadyOptions options = {});

    // Finished once the printer answered; Failed with the reason when the time ran out or
    // the wait was cancelled (result() tells which).
    StepResult step() override;
    void cancel() override
    {
        m_cancel = true;
        m_ownToken.cancel();
    }
    PrinterReady result() const { return m_result; }
    // Questions asked so far.
    int questions() const { return m_questions; }

private:
    StepResult end(PrinterReady result);

    PrinterConnection& m_conn;
    Clock& m_clock;
    PrinterReadyOptions m_options;
    std::atomic<bool> m_cancel{false};
    CancelToken m_ownToken;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_start{};
    PrinterReady m_result = PrinterReady::NotAsked;
    int m_questions = 0;
};

// The status line of the wait, in English or Korean: what is being done while it runs
// (`running`), then its result; empty for NotAsked.
std::string printerReadyText(PrinterReady result, std::chrono::milliseconds timeout, bool korean);
std::string printerReadyWaitingText(std::chrono::milliseconds timeout, bool korean);
