#pragma once
// The acknowledgement of a parallel-port "Get Value". The parallel port has no receive
// event, so the tool itself notices missing answers: a timer, first after 3000 ms (the
// printer answers 17 requests in well under that), then every 2000 ms, asks again for
// every setting that has not answered, until all have. There is no limit on the repeats;
// the user ends a hopeless read with EXIT.
//
// This class is the decision of one timer tick; SetupSession::LptAckTick performs it. A
// host drives the ticks with its own timer (QTimer in the dialog, a Clock loop in tavroctl).
// Pure; one thread.
#include "setup/SetupFrames.h"

#include <chrono>
#include <functional>
#include <vector>

class LptAcknowledge {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kFirstInterval{3000};
    static constexpr Ms kRepeatInterval{2000};

    enum class Action {
        Wait,    // answers are still being received: re-arm with kRepeatInterval
        Resend,  // send `resend` again, then re-arm with kRepeatInterval
        Finish,  // every setting answered: end the read
    };
    struct Step {
        Action action;
        std::vector<std::uint8_t> resend; // for Resend, in list order
        Ms interval{0};                    // the next timer interval; 0 for Finish
    };

    explicit LptAcknowledge(CountedRequestList list = lptRequestList()) : m_list(list) {}

    // One tick. queueHasBytes: the parallel-port receive queue still holds bytes (they
    // may be the missing answers, so nothing is sent yet). answered(n): the setting's
    // received-answer flag.
    Step decide(bool queueHasBytes, const std::function<bool(int)>& answered) const;

    const CountedRequestList& list() const { return m_list; }

private:
    CountedRequestList m_list;
};
