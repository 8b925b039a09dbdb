#pragma once
// The desktop tool's message boxes: a QMessageBox on top of the active dialog. A worker
// thread's box (a job's step asks something) is shown by the GUI thread while the worker
// waits; a worker that its driver releases meanwhile gets Cancel (No for a Yes/No question,
// nothing for the file name) without waiting for the box.
#include "app/Prompter.h"

#include <QPointer>
#include <QWidget>

class QtPrompter final : public Prompter {
public:
    QtPrompter() = default;

    // Any thread may call it; from a worker the call blocks until the user answered or the
    // worker was released (see QtGuiCall.h).
    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                      std::string_view caption) override;
    // The "Print to File" question as a small input dialog; nothing when it was closed.
    std::optional<std::string> askOutputFileName() override;

private:
    static PromptAnswer showOnGuiThread(const QString& text, PromptButtons buttons, PromptIcon icon,
                                 const QString& caption);
};
