#include "qthost/QtBusy.h"

#include "qthost/QtStatusLine.h"

#include <QApplication>
#include <QWindow>

#include <vector>

namespace {

// Sits on the application while any window is busy and swallows the input meant for a
// busy window, both at the window (before Qt dispatches it) and at its widgets.
class InputDropper final : public QObject {
public:
    std::vector<QPointer<QWidget>> windows;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!QtBusy::isUserInput(event->type()))
            return false;
        if (auto* widget = qobject_cast<QWidget*>(watched))
            return holds(widget->window());
        if (auto* window = qobject_cast<QWindow*>(watched)) {
            for (const auto& w : windows)
                if (w && w->windowHandle() == window)
                    return true;
        }
        return false;
    }
    bool holds(const QWidget* window) const
    {
        for (const auto& w : windows)
            if (w && w == window)
                return true;
        return false;
    }
};

InputDropper* g_dropper = nullptr;

} // namespace

bool QtBusy::isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

bool QtBusy::active()
{
    return g_dropper != nullptr;
}

bool QtBusy::isBusy(const QWidget* window)
{
    return g_dropper && window && g_dropper->holds(window->window());
}

QtBusy::QtBusy(QWidget* window, QtStatusLine* status, const QString& what)
    : m_window(window ? window->window() : nullptr), m_status(status)
{
    if (!g_dropper) {
        g_dropper = new InputDropper;
        qApp->installEventFilter(g_dropper);
    }
    g_dropper->windows.push_back(m_window);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_status) {
        m_previousText = m_status->text();
        m_statusWasBusy = m_status->busy();
        m_busyText = what;
        m_status->showBusy(what);
    }
    // Paint the cursor and the text before the first blocking step begins.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QtBusy::~QtBusy()
{
    // Input that reached the queue during the wait is delivered now, while the filter
    // still drops it; after this, only what the user does next counts.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    auto& list = g_dropper->windows;
    for (auto it = list.end(); it != list.begin();) {
        --it;
        if (*it == m_window) {
            list.erase(it);
            break;
        }
    }
    if (list.empty()) {
        qApp->removeEventFilter(g_dropper);
        delete g_dropper;
        g_dropper = nullptr;
    }
    QApplication::restoreOverrideCursor();
    if (m_status) {
        if (m_statusWasBusy)
            m_status->showBusy(m_previousText);
        else if (m_status->busy() && m_status->text() == m_busyText)
            m_status->showMessage(m_previousText); // nobody reported a result meanwhile
        else
            m_status->endBusy();
    }
}

void QtBusy::setText(const QString& what)
{
    m_busyText = what;
    if (m_status)
        m_status->showBusy(what);
}
