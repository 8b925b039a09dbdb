#include "qthost/QtPrompter.h"

#include "app/MessageCatalog.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtGuiCall.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

#include <memory>

namespace {

bool isYesNo(PromptButtons buttons)
{
    return buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoDefaultNo;
}

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

} // namespace

PromptAnswer QtPrompter::show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                              std::string_view caption)
{
    QString qText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QString qCaption = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    if (onGuiThread())
        return showOnGuiThread(qText, buttons, icon, qCaption);
    // The box owns its texts: a released worker does not wait for it.
    auto answer = std::make_shared<PromptAnswer>();
    if (callOnGuiThread([=] { *answer = showOnGuiThread(qText, buttons, icon, qCaption); }))
        return *answer;
    return isYesNo(buttons) ? PromptAnswer::No : PromptAnswer::Cancel;
}

PromptAnswer QtPrompter::showOnGuiThread(const QString& text, PromptButtons buttons, PromptIcon icon,
                                         const QString& caption)
{
    // The control that brought the box up gets the keyboard back when it closes, as it had it
    // (the box would otherwise leave the focus nowhere and the keys would go unheard).
    QPointer<QWidget> focus = QApplication::focusWidget();
    if (!focus && QApplication::activeWindow())
        focus = QApplication::activeWindow()->focusWidget();
    QMessageBox box(qtIcon(icon), caption, text, QMessageBox::NoButton, QApplication::activeWindow());
    switch (buttons) {
    case PromptButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case PromptButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case PromptButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case PromptButtons::YesNoDefaultNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
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
    if (focus && focus->isVisible() && focus->isEnabled()) {
        focus->activateWindow();
        focus->setFocus(Qt::OtherFocusReason);
    }
    switch (pressed) {
    case QMessageBox::Ok: return PromptAnswer::Ok;
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    default: return isYesNo(buttons) ? PromptAnswer::No : PromptAnswer::Cancel;
    }
}

std::optional<std::string> QtPrompter::askOutputFileName()
{
    auto result = std::make_shared<std::optional<std::string>>();
    auto ask = [result] {
        for (;;) {
            QInputDialog input(QApplication::activeWindow());
            input.setWindowTitle(koreanUi() ? QString::fromUtf8("파일로 출력") : QString("Print to File"));
            input.setLabelText(koreanUi() ? QString::fromUtf8("출력 파일 이름을 입력하십시오")
                                          : QString("Input the output file name"));
            input.setInputMode(QInputDialog::TextInput);
            if (koreanUi()) {
                input.setOkButtonText(QString::fromUtf8("확인"));
                input.setCancelButtonText(QString::fromUtf8("취소"));
            }
            if (input.exec() != QDialog::Accepted)
                return;
            QString name = input.textValue();
            if (!name.trimmed().isEmpty()) {
                *result = name.trimmed().toStdString();
                return;
            }
            // An empty name keeps the question open, as the Windows dialog did.
            showOnGuiThread(QString::fromUtf8(catalogText(Msg::OutputFileName)), PromptButtons::Ok,
                            PromptIcon::Exclamation, kAppDisplayName);
        }
    };
    if (!callOnGuiThread(ask))
        return std::nullopt;
    return *result;
}
