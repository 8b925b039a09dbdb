#pragma once
// tavroctl's one handler of SIGINT and SIGTERM. Ctrl-C is the dialogs' Cancel: it cancels the
// token of the command that is running, whose connection then ends any wait on the printer
// within a fraction of a second, and the command finishes what it must (an NV upload pads its
// open definition) and exits with its usual failure message. A second Ctrl-C, or one while no
// command has lent a token, ends the program at once as the signal would.
//
//     installInterruptHandler();            // once, in main()
//     CancelToken token;
//     InterruptCancels scope(token);        // for as long as the command runs
#include "app/CancelToken.h"

// Installs the handler for SIGINT and SIGTERM (without SA_RESTART: a blocking read of a
// question's answer returns), except for a signal that is ignored (a background job's
// SIGINT). Call once from the main thread before any command runs.
void installInterruptHandler();

// Lends the token to the handler for the scope's lifetime and puts the previous one back.
// Main thread only; the token must outlive the scope.
class InterruptCancels {
public:
    explicit InterruptCancels(CancelToken& token);
    ~InterruptCancels();
    InterruptCancels(const InterruptCancels&) = delete;
    InterruptCancels& operator=(const InterruptCancels&) = delete;

private:
    CancelToken* m_previous;
};
