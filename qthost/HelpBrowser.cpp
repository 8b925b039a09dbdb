#include "qthost/HelpBrowser.h"

#include "qthost/AppIcon.h"
#include "qthost/HelpFolder.h"
#include "qthost/QtDialogs.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <system_error>

namespace {

const char* kTopicProperty = "tavroHelpTopic";

QPointer<HelpBrowser>& theBrowser()
{
    static QPointer<HelpBrowser> browser;
    return browser;
}

QString pageTopic(const QWidget* widget)
{
    return widget ? widget->property(kTopicProperty).toString() : QString();
}

QString currentPageTopic(const QTabWidget* tabs)
{
    return pageTopic(tabs->currentWidget());
}

// F1 anywhere in the application: the topic of the widget that has the key, or of the
// nearest widget above it that has one.
class F1Filter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        const QString topic = help::topicFor(widget);
        if (topic.isEmpty())
            return false;
        help::show(topic, widget);
        return true;
    }
};

void adopt(HelpBrowser& browser, QWidget* window);

// Keeps the help window open when the dialog it belongs to closes: it moves to the window
// below that dialog (the one that opened it), which is still running.
class ParentWatch final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        HelpBrowser* browser = theBrowser();
        if (event->type() == QEvent::Hide && !event->spontaneous() && browser && watched == browser->parentWidget()) {
            auto* closing = static_cast<QWidget*>(watched);
            QWidget* below = closing->parentWidget() ? closing->parentWidget()->window() : nullptr;
            adopt(*browser, below);
        }
        return false;
    }
};

ParentWatch& parentWatch()
{
    static auto* watch = new ParentWatch(qApp);
    return *watch;
}

void adopt(HelpBrowser& browser, QWidget* window)
{
    if (browser.parentWidget() == window || window == &browser)
        return;
    const bool visible = browser.isVisible();
    const QPoint where = browser.pos();
    if (QWidget* before = browser.parentWidget())
        before->removeEventFilter(&parentWatch());
    browser.setParent(window, browser.windowFlags());
    if (window)
        window->installEventFilter(&parentWatch());
    if (visible) {
        browser.move(where);
        browser.show();
    }
}

QString htmlEscaped(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string()).toHtmlEscaped();
}

} // namespace

HelpBrowser::HelpBrowser(QWidget* parent) : QDialog(parent)
{
    setObjectName("HelpBrowser");
    setModal(false);
    setWindowIcon(appIcon());
    m_view = new QTextBrowser;
    m_view->setObjectName("helpView");
    m_view->setOpenExternalLinks(true);
    m_back = new QPushButton;
    m_back->setObjectName("helpBack");
    m_forward = new QPushButton;
    m_forward->setObjectName("helpForward");
    m_contents = new QPushButton;
    m_contents->setObjectName("helpContents");
    m_close = new QPushButton;
    m_close->setObjectName("helpClose");
    for (QPushButton* b : {m_back, m_forward, m_contents, m_close})
        b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addWidget(m_contents);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_view, 1);

    connect(m_back, &QPushButton::clicked, m_view, &QTextBrowser::backward);
    connect(m_forward, &QPushButton::clicked, m_view, &QTextBrowser::forward);
    connect(m_contents, &QPushButton::clicked, this, [this] { showTopic("index", m_korean); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_view, &QTextBrowser::historyChanged, this, &HelpBrowser::updateButtons);
    // The usual keys of a browser, wherever the focus is in the window.
    auto* back = new QShortcut(QKeySequence::Back, this);
    connect(back, &QShortcut::activated, m_view, &QTextBrowser::backward);
    auto* forward = new QShortcut(QKeySequence::Forward, this);
    connect(forward, &QShortcut::activated, m_view, &QTextBrowser::forward);

    setLanguage(false);
    updateButtons();
    resize(sizeHint());
}

QSize HelpBrowser::sizeHint() const
{
    return QSize(640, 480).boundedTo(largestDialogSize());
}

void HelpBrowser::setLanguage(bool korean)
{
    m_korean = korean;
    setWindowTitle(korean ? QString::fromUtf8("TAVROSet 도움말") : QString("TAVROSet Help"));
    m_back->setText(korean ? koreanMnemonic("< 뒤로", 'B') : QString("< &Back"));
    m_forward->setText(korean ? koreanMnemonic("앞으로 >", 'F') : QString("&Forward >"));
    m_contents->setText(korean ? koreanMnemonic("목차", 'C') : QString("&Contents"));
    m_close->setText(korean ? QString::fromUtf8("닫기") : QString("Close"));
}

void HelpBrowser::updateButtons()
{
    m_back->setEnabled(m_view->isBackwardAvailable());
    m_forward->setEnabled(m_view->isForwardAvailable());
}

QUrl HelpBrowser::source() const
{
    return m_view->source();
}

bool HelpBrowser::showTopic(const QString& topic, bool korean)
{
    setLanguage(korean);
    std::vector<std::filesystem::path> tried;
    const auto folder = findHelpFolder(HelpPlaces::fromEnvironment(), &tried);
    QString problem;
    if (folder) {
        const auto page = helpPage(*folder, topic.toStdString(), korean);
        std::error_code ec;
        if (std::filesystem::is_regular_file(page, ec)) {
            m_view->setSource(QUrl::fromLocalFile(QString::fromStdString(page.string())));
            updateButtons();
            return true;
        }
        problem = korean ? QString::fromUtf8("“%1” 도움말 페이지가 없습니다: %2").arg(topic.toHtmlEscaped(), htmlEscaped(page))
                         : QString("The help page “%1” is missing: %2").arg(topic.toHtmlEscaped(), htmlEscaped(page));
    } else {
        QStringList places;
        for (const auto& p : tried)
            places << htmlEscaped(p);
        problem = korean ? QString::fromUtf8("도움말 페이지를 찾지 못했습니다. 찾아본 곳: %1").arg(places.join(", "))
                         : QString("The help pages were not found. Looked in: %1").arg(places.join(", "));
    }
    const QString fix = korean ? QString::fromUtf8("도움말은 tavroset 패키지와 함께 /usr/share/tavroset/help에 설치됩니다. "
                                                   "패키지를 다시 설치하십시오.")
                               : QString("The help pages are installed with the tavroset package in "
                                         "/usr/share/tavroset/help. Reinstall the package.");
    m_view->setHtml("<h2>" + windowTitle().toHtmlEscaped() + "</h2><p>" + problem + "</p><p>" + fix + "</p>");
    updateButtons();
    return false;
}

namespace help {

void installF1(QWidget* widget, const QString& topic)
{
    static auto* filter = [] {
        auto* f = new F1Filter(qApp);
        qApp->installEventFilter(f);
        return f;
    }();
    (void)filter;
    widget->setProperty(kTopicProperty, topic);
}

QString topicFor(const QWidget* widget)
{
    for (const QWidget* at = widget; at; at = at->parentWidget()) {
        if (QString topic = pageTopic(at); !topic.isEmpty())
            return topic;
        if (auto* tabs = qobject_cast<const QTabWidget*>(at))
            if (QString topic = currentPageTopic(tabs); !topic.isEmpty())
                return topic;
        if (at->isWindow()) {
            for (const QTabWidget* tabs : at->findChildren<QTabWidget*>())
                if (QString topic = currentPageTopic(tabs); !topic.isEmpty())
                    return topic;
            break;
        }
    }
    return {};
}

HelpBrowser* show(const QString& topic, QWidget* from)
{
    QWidget* window = from ? from->window() : QApplication::activeModalWidget();
    QPointer<HelpBrowser>& browser = theBrowser();
    if (!browser) {
        browser = new HelpBrowser;
        adopt(*browser, window);
    } else if (window != browser) {
        adopt(*browser, window);
    }
    browser->showTopic(topic, koreanUi());
    browser->show();
    browser->raise();
    browser->activateWindow();
    return browser;
}

HelpBrowser* browser()
{
    return theBrowser();
}

} // namespace help
