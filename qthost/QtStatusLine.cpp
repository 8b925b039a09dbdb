#include "qthost/QtStatusLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

QtStatusLine::QtStatusLine(QWidget* parent) : QWidget(parent)
{
    setObjectName("statusLine");
    m_text = new QLabel;
    m_text->setObjectName("statusText");
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long text must not widen the dialog beyond a small screen: it wraps instead.
    m_text->setWordWrap(true);
    m_text->setMinimumWidth(40);
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    m_text->setSizePolicy(policy);
    m_bar = new QProgressBar;
    m_bar->setObjectName("statusBar");
    m_bar->setRange(0, 0); // no known end: a moving bar
    m_bar->setTextVisible(false);
    m_bar->setMaximumWidth(120);
    m_bar->setMaximumHeight(14);
    m_bar->hide();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->addWidget(m_bar);
    layout->addWidget(m_text, 1);
    setMinimumHeight(m_text->sizeHint().height() + 2);
}

void QtStatusLine::showBusy(const QString& text)
{
    showMessage(text, Kind::Info);
    m_bar->show();
}

void QtStatusLine::endBusy()
{
    m_bar->hide();
}

void QtStatusLine::showMessage(const QString& text, Kind kind)
{
    m_kind = kind;
    m_bar->hide();
    m_text->setText(text);
    m_text->setToolTip(text);
    m_text->setStyleSheet(kind == Kind::Failure ? "color: #b00020;" : QString());
}

void QtStatusLine::clear()
{
    showMessage(QString());
}

QString QtStatusLine::text() const
{
    return m_text->text();
}

bool QtStatusLine::busy() const
{
    return !m_bar->isHidden();
}
