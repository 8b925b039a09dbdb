#pragma once
// The desktop tool's message boxes: a QMessageBox on top of the active dialog. A worker
// thread's box is shown by the GUI thread while the worker waits.
#include "app/Prompter.h"

#include <QPointer>
#include <QWidget>

class QtPrompter final : public Prompter {
public:
    QtPrompter() = default;

    // Any thread may call it; from a worker the call blocks until the user answered.
    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                      std::string_view caption) override;
    // The "Print to File" question as a small input dialog; nothing when it was closed.
    std::optional<std::string> askOutputFileName() override;

private:
    PromptAnswer showOnGuiThread(const QString& text, PromptButtons buttons, PromptIcon icon,
                                 const QString& caption);
};
