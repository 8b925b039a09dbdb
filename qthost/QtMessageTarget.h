#pragma once
// A MessageTarget for a Qt dialog: the handler always runs on the GUI thread. A call from
// the GUI thread runs it directly; a call from a worker posts it to the GUI thread and
// waits for the result, like SendMessage.
//
// Deadlock guard: a worker blocked in SendMessage must never hold up a GUI thread that waits
// for that worker to end. detach() (and the destructor) stops further handler calls and
// releases every worker still waiting, with result 0, so the owner can then join its
// threads with a plain join.
#include "app/MessageTarget.h"

#include <QObject>

#include <functional>
#include <memory>

class QtMessageTarget final : public QObject, public MessageTarget {
    Q_OBJECT
public:
    using Handler = std::function<long(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)>;

    // Create it on the GUI thread; the handler runs there.
    explicit QtMessageTarget(Handler handler, QObject* parent = nullptr);
    ~QtMessageTarget() override;

    // Any thread. Returns the handler's result, or 0 once detached.
    long SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;

    // GUI thread. No handler runs after this returns; waiting workers return 0.
    void detach();
    // GUI thread. Takes messages again (after a detach, for a new connection).
    void attach();
    bool attached() const;

private:
    // Shared with the waiting workers and the posted calls: a worker released by the
    // destructor wakes up on state that is still there.
    struct Shared;
    Handler m_handler;
    std::shared_ptr<Shared> m_shared;
};
