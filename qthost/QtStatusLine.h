#pragma once
// The status line at the bottom of a dialog: what the tool is doing or has just done,
// without a message box. A busy wait shows a moving bar next to its text (QtBusy does
// that); a finished action leaves one line of confirmation until the next action.
//
//     m_status = new QtStatusLine(this);
//     layout->addWidget(m_status);
//     m_status->showDone(tr("Settings written"));
//
// GUI thread only.
#include <QWidget>

class QLabel;
class QProgressBar;

class QtStatusLine final : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Info, Done, Failure };

    explicit QtStatusLine(QWidget* parent = nullptr);

    // A wait: the text with a moving bar.
    void showBusy(const QString& text);
    // The end of a wait: the bar goes; the text stays.
    void endBusy();
    // One line about what has just happened; a failure is shown in red.
    void showMessage(const QString& text, Kind kind = Kind::Info);
    void showDone(const QString& text) { showMessage(text, Kind::Done); }
    void showFailure(const QString& text) { showMessage(text, Kind::Failure); }
    void clear();

    QString text() const;
    Kind kind() const { return m_kind; }
    bool busy() const;

private:
    QLabel* m_text;
    QProgressBar* m_bar;
    Kind m_kind = Kind::Info;
};
