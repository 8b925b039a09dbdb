#include "setup/LptAcknowledge.h"

LptAcknowledge::Step LptAcknowledge::decide(bool queueHasBytes, const std::function<bool(int)>& answered) const
{
    if (queueHasBytes)
        return {Action::Wait, {}, kRepeatInterval};
    Step step{Action::Resend, {}, kRepeatInterval};
    for (int i = 0; i < m_list.count; ++i) {
        std::uint8_t n = m_list.numbers[static_cast<std::size_t>(i)];
        if (!answered(n))
            step.resend.push_back(n);
    }
    if (step.resend.empty())
        return {Action::Finish, {}, Ms{0}};
    return step;
}
