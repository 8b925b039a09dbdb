#pragma once
// A MessageTarget for hosts without windows (tavroctl, tests): it applies every
// WM_SETUP_VALUE to a form of its own, through the session, on whichever thread delivers it,
// and lets the host's thread wait for the answers with a time-out.
//
// Threads: SendMessage runs on RcvDataProcess's thread; everything else on any thread. All state is
// behind one lock, which is also held while the session handles a message: after
// Attach(nullptr) returns, no message reaches the old session any more.
#include "app/MessageTarget.h"
#include "setup/SetupOptions.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

class SetupSession;

class SetupValueCollector final : public MessageTarget {
public:
    SetupValueCollector() = default;
    // The session whose OnSetupValue the messages go to. Set it before
    // the session opens and clear it (nullptr) before the session goes.
    void Attach(SetupSession* session);

    long SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;

    // The form as the answers so far have set it.
    SetupOptions Form() const;
    void SetForm(const SetupOptions& form);
    // Setting numbers that answered since the last Reset, and those whose value the form
    // now shows.
    std::set<int> Answered() const;
    std::set<int> Shown() const;
    // Forgets the answers (the form stays).
    void Reset();
    // Waits until every number in wanted has answered, at most timeout (real time).
    // Returns true when all did.
    bool WaitFor(const std::vector<std::uint8_t>& wanted, std::chrono::milliseconds timeout) const;
    // Waits until no answer has come for quiet, at most timeout: the tail of a reply
    // stream (USB, ETHERNET_II) that is already queued.
    void WaitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const;
    int Notifications() const;

private:
    bool allAnswered(const std::vector<std::uint8_t>& wanted) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    SetupSession* m_session = nullptr;
    SetupOptions m_form;
    std::set<int> m_answered;
    std::set<int> m_shown;
    int m_notifications = 0;
};
