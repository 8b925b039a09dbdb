#pragma once
// A long wait of the desktop tool, shown and guarded for as long as the object lives:
//  - the wait cursor over the whole application (message boxes that come up meanwhile get
//    the arrow back, see QtPrompter);
//  - the window's status line (when it has one) says what the tool is waiting for, with a
//    moving bar;
//  - mouse, key and wheel input to the window is dropped, not queued: a click made while
//    the printer restarts must not press a button once the wait is over.
//
//     QtBusy busy(this, m_status, tr("Waiting for the printer to restart"));
//     m_session->SetValue(...);   // its waits on the QtClock keep painting
//
// Other windows (a message box shown during the wait) still take input. Scopes nest; the
// innermost text is shown and the outer one comes back when it ends. GUI thread only.
#include <QEvent>
#include <QPointer>
#include <QString>
#include <QWidget>

class QtStatusLine;

class QtBusy final {
public:
    // window: the window whose input is dropped (its top-level window is taken);
    // status: may be null.
    QtBusy(QWidget* window, QtStatusLine* status, const QString& what);
    ~QtBusy();
    QtBusy(const QtBusy&) = delete;
    QtBusy& operator=(const QtBusy&) = delete;

    // Says what the wait is now waiting for ("Reopening the USB printer").
    void setText(const QString& what);

    // True while any window is busy. QtClock then lets input events through its waits so
    // that they reach the drop filter instead of waiting in the queue.
    static bool active();
    // True while the window (or its top-level window) is busy.
    static bool isBusy(const QWidget* window);
    // The event types a busy window never gets.
    static bool isUserInput(QEvent::Type type);

private:
    QPointer<QWidget> m_window;
    QPointer<QtStatusLine> m_status;
    QString m_previousText;
    QString m_busyText;
    bool m_statusWasBusy = false;
};
