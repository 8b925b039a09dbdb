#include "qthost/QtPrompter.h"

#include "app/MessageCatalog.h"
#include "qthost/QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace {

QMessageBox::Icon qtIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Exclamation: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

bool onGuiThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

PromptAnswer QtPrompter::show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                              std::string_view caption)
{
    QString qText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QString qCaption = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    if (onGuiThread() || !QCoreApplication::instance())
        return showOnGuiThread(qText, buttons, icon, qCaption);
    PromptAnswer answer = PromptAnswer::Cancel;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] { answer = showOnGuiThread(qText, buttons, icon, qCaption); },
        Qt::BlockingQueuedConnection);
    return answer;
}

PromptAnswer QtPrompter::showOnGuiThread(const QString& text, PromptButtons buttons, PromptIcon icon,
                                         const QString& caption)
{
    QMessageBox box(qtIcon(icon), caption, text, QMessageBox::NoButton, QApplication::activeWindow());
    switch (buttons) {
    case PromptButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case PromptButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case PromptButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case PromptButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    localizeButtons(box, koreanUi());
    fitCaption(box);
    // A box that comes up during a busy wait must not wear the wait cursor: it wants an
    // answer now.
    const bool waitCursor = QApplication::overrideCursor() != nullptr;
    if (waitCursor)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int pressed = box.exec();
    if (waitCursor)
        QApplication::restoreOverrideCursor();
    switch (pressed) {
    case QMessageBox::Ok: return PromptAnswer::Ok;
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    default: return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
    }
}

std::optional<std::string> QtPrompter::askOutputFileName()
{
    std::optional<std::string> result;
    auto ask = [&] {
        for (;;) {
            QInputDialog input(QApplication::activeWindow());
            input.setWindowTitle("Print to File");
            input.setLabelText("Input the output file name");
            input.setInputMode(QInputDialog::TextInput);
            if (koreanUi()) {
                input.setOkButtonText(QString::fromUtf8("확인"));
                input.setCancelButtonText(QString::fromUtf8("취소"));
            }
            if (input.exec() != QDialog::Accepted)
                return;
            QString name = input.textValue();
            if (!name.trimmed().isEmpty()) {
                result = name.trimmed().toStdString();
                return;
            }
            // An empty name keeps the question open, as the Windows dialog did.
            showOnGuiThread(QString::fromUtf8(catalogText(0)), PromptButtons::Ok,
                            PromptIcon::Exclamation, kAppDisplayName);
        }
    };
    if (onGuiThread())
        ask();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), ask, Qt::BlockingQueuedConnection);
    return result;
}
