#pragma once
// The help window of the desktop tool and F1 on its dialogs. One window for the whole run,
// reused by every F1: a page view with Back, Forward, Contents and Close, all usable from the
// keyboard (Alt+Left and Alt+Right go back and forward, Esc closes). The pages come from the
// help folder (qthost/HelpFolder.h) in the tool's language.
//
// A dialog hooks F1 with help::installF1(this, "topic"); the key then opens that topic from
// anywhere inside the widget. A tab page's topic wins over its dialog's, and a dialog without
// a topic of its own takes the topic of the page its tabs show.
//
// The window is a child of the dialog that asked (a modal dialog blocks every window that is
// not its own); when that dialog closes, the window moves to the dialog below it and stays
// open. GUI thread only.
#include <QDialog>
#include <QString>
#include <QUrl>

class QPushButton;
class QTextBrowser;

class HelpBrowser final : public QDialog {
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget* parent = nullptr);

    // Shows the topic's page in the language (English when the Korean page is missing). A
    // missing folder or page shows a page that says what is missing and where it was looked
    // for; false then.
    bool showTopic(const QString& topic, bool korean);

    QTextBrowser* view() const { return m_view; }
    // The file shown (empty while the "not found" page is up).
    QUrl source() const;
    bool korean() const { return m_korean; }
    // Room for a page of text, within the smallest screen the tool must fit.
    QSize sizeHint() const override;

private:
    void setLanguage(bool korean);
    void updateButtons();

    QTextBrowser* m_view;
    QPushButton* m_back;
    QPushButton* m_forward;
    QPushButton* m_contents;
    QPushButton* m_close;
    bool m_korean = false;
};

namespace help {

// F1 inside the widget opens the topic ("connect", "logo-upload", ...: helpTopics()) in
// the tool's language. May be called before the widget is placed in its dialog.
void installF1(QWidget* widget, const QString& topic);

// The topic F1 opens for a key press received by the widget; empty when none.
QString topicFor(const QWidget* widget);

// Opens the topic in the help window, made a child of from's window (the active modal
// dialog when from is null); the language is the tool's (koreanUi()). Returns the window.
HelpBrowser* show(const QString& topic, QWidget* from = nullptr);

// The help window when one is open or was opened before; null otherwise.
HelpBrowser* browser();

} // namespace help
