#pragma once
// A dialog control's object name: "ctl" and its id, so that the tests, the demo check and the
// screenshot tool find a control by the id named in the dialog's controls header.
#include <QObject>
#include <QString>

inline QString controlName(int id) { return QString("ctl%1").arg(id); }

// Gives w the object name of control id and returns it (for use inside layout code).
template <class W>
W* named(W* w, int id)
{
    w->setObjectName(controlName(id));
    return w;
}

// The control id below within, or null.
template <class W = QWidget>
W* findControl(const QObject* within, int id)
{
    return within->findChild<W*>(controlName(id));
}
