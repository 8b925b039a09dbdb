#pragma once
// A window that takes synchronous messages from worker threads: the receive notification of
// the port layer and the setup values of the receive processing.
#include <cstdint>

inline constexpr unsigned WM_USER = 0x400;
// Bytes are waiting in CPorts::m_QueueRead (wParam 0, lParam 0).
inline constexpr unsigned WM_RECEIVE_NOTIFY = WM_USER + 1;
// A setup value arrived (wParam setting number, lParam value code).
inline constexpr unsigned WM_SETUP_VALUE = WM_USER + 3;

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    // Runs the handler and returns its result before returning (like SendMessage). May be
    // called from any thread; a Qt dialog runs the handler on its GUI thread.
    virtual long SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};
