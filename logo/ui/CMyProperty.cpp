#include "logo/ui/CMyProperty.h"

#include "qthost/AppIcon.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtStatusLine.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

CMyProperty::CMyProperty(LogoSheetDeps deps, QWidget* parent)
    : QDialog(parent), m_state(std::make_unique<LogoSheetState>(std::move(deps)))
{
    setObjectName("CMyProperty");
    setModal(true);
    setWindowIcon(appIcon());
    setWindowTitle(kTitle);
    LogoSheetState& s = *m_state;
    m_status = new QtStatusLine;
    s.status = m_status;

    m_tabs = new QTabWidget;
    m_tabs->setObjectName("tabs");
    m_pages[kSelection] = new CPage1Selection(s);
    m_pages[kPreview] = new CPage2Preview(s);
    m_pages[kUpload] = new CPage3Upload(s);
    m_pages[kPrint] = new CPage4Print(s);
    m_pages[kSetup] = new CPage5Setup(s);
    // F1 on a page opens its own topic; elsewhere in the sheet, the topic of the page shown.
    const char* topics[] = {"bitmap-selection", "preview", "logo-upload", "logo-printout", "logo-setup"};
    for (int page = kSelection; page <= kSetup; ++page)
        help::installF1(m_pages[page], topics[page]);
    // The Korean tab names are ours; the pages' own captions follow the tool's texts.
    m_tabs->addTab(m_pages[kSelection], s.text("Select Bitmap", "비트맵 선택"));
    m_tabs->addTab(m_pages[kPreview], s.text("Preview Bitmap", "미리 보기"));
    m_tabs->addTab(m_pages[kUpload], s.text("Upload Bitmap", "비트맵 전송"));
    m_tabs->addTab(m_pages[kPrint], s.text("Print && Setup", "인쇄 및 설정"));
    m_tabs->addTab(m_pages[kSetup], s.text("Advanced", "고급"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    localizeButtons(*buttons, s.deps.korean);
    for (QAbstractButton* b : buttons->buttons())
        if (auto* push = qobject_cast<QPushButton*>(b))
            push->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(bottom);

    // Opening: the options of the model, the list from the logo log.
    s.restore();
    m_current = kSelection;
    m_tabs->setCurrentIndex(kSelection);
    m_pages[kSelection]->onSetActive();
    connect(m_tabs, &QTabWidget::currentChanged, this, &CMyProperty::onTabChanged);
    fitToScreen(*this);
}

CMyProperty::~CMyProperty() = default;

void CMyProperty::showPage(Page page) { m_tabs->setCurrentIndex(int(page)); }

void CMyProperty::onTabChanged(int index)
{
    if (m_switching || index == m_current || index < 0 || index >= 5)
        return;
    if (!m_pages[m_current]->onKillActive()) {
        // The page refuses its values: it stays.
        m_switching = true;
        m_tabs->setCurrentIndex(m_current);
        m_switching = false;
        return;
    }
    m_current = index;
    m_pages[index]->onSetActive();
}

void CMyProperty::accept()
{
    if (!m_pages[m_current]->onKillActive())
        return;
    QDialog::accept();
}

void CMyProperty::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && qobject_cast<QLineEdit*>(focusWidget())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMyProperty::done(int result)
{
    // The list lives while the sheet is open; the log keeps it between openings.
    m_state->list.reset();
    QDialog::done(result);
}
