#include "qthost/QtDialogs.h"

#include "app/MessageCatalog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpacerItem>
#include <QStyle>

#include <algorithm>
#include <memory>

QSize largestDialogSize()
{
    const int w = std::min(kScreen720p.width(), kScreenLaptop150.width()) - kScreenReserve.width();
    const int h = std::min(kScreen720p.height(), kScreenLaptop150.height()) - kScreenReserve.height();
    return {w, h};
}

bool koreanUi()
{
    return g_pMsg == &koreanCatalog();
}

bool useQtTranslations(bool korean)
{
    static QTranslator* installed = nullptr;
    static QLocale before;
    if (!korean) {
        if (installed) {
            QCoreApplication::removeTranslator(installed);
            delete installed;
            installed = nullptr;
            QLocale::setDefault(before);
        }
        return true;
    }
    if (installed)
        return true;
    const QLocale locale(QLocale::Korean, QLocale::SouthKorea);
    auto translator = std::make_unique<QTranslator>();
    // qtbase holds the widgets' texts; "qt" is the catalogue of older installs.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(locale, "qtbase", "_", folder) && !translator->load(locale, "qt", "_", folder))
        return false;
    before = QLocale();
    QLocale::setDefault(locale);
    QCoreApplication::installTranslator(translator.get());
    installed = translator.release(); // removed again by useQtTranslations(false)
    return true;
}

QString koreanMnemonic(const char* utf8Text, char key)
{
    return QString::fromUtf8(utf8Text) + "(&" + QChar(key) + ")";
}

namespace {

const char* koreanText(QMessageBox::StandardButton b)
{
    switch (b) {
    case QMessageBox::Yes: return "예";
    case QMessageBox::No: return "아니요";
    case QMessageBox::Ok: return "확인";
    case QMessageBox::Cancel: return "취소";
    default: return nullptr;
    }
}

} // namespace

void localizeButtons(QMessageBox& box, bool korean)
{
    if (!korean)
        return;
    for (QAbstractButton* b : box.buttons()) {
        auto which = box.standardButton(b);
        if (const char* text = koreanText(which))
            b->setText(QString::fromUtf8(text));
        // The Korean texts have no Latin letter to underline; Y and N still answer.
        if (which == QMessageBox::Yes || which == QMessageBox::No) {
            auto* key = new QShortcut(QKeySequence(which == QMessageBox::Yes ? Qt::Key_Y : Qt::Key_N), &box);
            QObject::connect(key, &QShortcut::activated, b, &QAbstractButton::click);
        }
    }
}

void localizeButtons(QDialogButtonBox& box, bool korean)
{
    if (!korean)
        return;
    for (QAbstractButton* b : box.buttons()) {
        auto which = static_cast<QMessageBox::StandardButton>(box.standardButton(b));
        if (const char* text = koreanText(which))
            b->setText(QString::fromUtf8(text));
    }
}

int captionWidth(const QString& caption, const QWidget& box)
{
    // Window managers draw the caption in a bold face of about the application font, beside
    // the window icon on the left and up to three buttons on the right.
    QFont font = box.font();
    font.setBold(true);
    const int text = QFontMetrics(font).horizontalAdvance(caption);
    const int icon = 24, buttons = 3 * 28, margins = 32;
    return text + icon + buttons + margins;
}

void fitCaption(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    const int wanted = std::min(captionWidth(box.windowTitle(), box), largestDialogSize().width());
    const int margins = grid->contentsMargins().left() + grid->contentsMargins().right();
    grid->addItem(new QSpacerItem(std::max(0, wanted - margins), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

QScrollArea* scrollArea(QWidget* content)
{
    auto* area = new QScrollArea;
    area->setObjectName("scrollArea");
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(content);
    // Small enough for a laptop at 150 %, and the content's own size when there is room.
    area->setMinimumSize(200, 120);
    area->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    return area;
}

void fitToScreen(QWidget& window)
{
    QWidget& top = *window.window();
    QSize want = top.sizeHint().expandedTo(top.minimumSizeHint());
    QScreen* screen = top.screen() ? top.screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect room = screen->availableGeometry();
        // The frame (title bar, borders) is outside the widget's size.
        QSize frame = top.frameGeometry().size() - top.geometry().size();
        if (frame.isEmpty() || frame.height() <= 0)
            frame = QSize(kScreenReserve.width(), 32);
        QSize limit = room.size() - frame;
        want = want.boundedTo(limit).expandedTo(top.minimumSize());
        top.resize(want);
        QRect g = top.frameGeometry();
        QPoint pos = top.pos();
        if (g.right() > room.right())
            pos.rx() -= g.right() - room.right();
        if (g.bottom() > room.bottom())
            pos.ry() -= g.bottom() - room.bottom();
        pos.rx() = std::max(pos.x(), room.left());
        pos.ry() = std::max(pos.y(), room.top());
        top.move(pos);
    } else {
        top.resize(want);
    }
}
