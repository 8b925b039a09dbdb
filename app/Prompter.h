#pragma once
// Message boxes and questions, as the host shows them: a QMessageBox in the desktop tool,
// stderr and --yes in tavroctl, a recording double in the tests.
#include <optional>
#include <string>
#include <string_view>

// The application display name, the caption of every message box.
inline constexpr const char* kAppDisplayName = "TAVROSet(203dpi)";

enum class PromptIcon { None, Information, Exclamation, Error, Question };
// YesNoDefaultNo: a question whose safe answer is No (Enter and Escape answer No).
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, YesNoDefaultNo };
enum class PromptAnswer { Ok, Cancel, Yes, No };

class Prompter {
public:
    virtual ~Prompter() = default;

    // Shows a modal box and returns the button pressed. Called on the thread that owns the
    // host's windows, or (Qt) from a worker, which the host then marshals to the GUI thread.
    virtual PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                              std::string_view caption) = 0;

    // The "Print to File" question: the output file name, or nothing when the user closed
    // the question without one.
    virtual std::optional<std::string> askOutputFileName() { return std::nullopt; }

    // An OK box; with no icon given, boxes get the exclamation icon.
    void message(std::string_view text, PromptIcon icon = PromptIcon::Exclamation)
    {
        show(text, PromptButtons::Ok, icon, kAppDisplayName);
    }
    // A Yes/No question; true for Yes.
    bool ask(std::string_view text, PromptIcon icon = PromptIcon::Exclamation)
    {
        return show(text, PromptButtons::YesNo, icon, kAppDisplayName) == PromptAnswer::Yes;
    }
    // A question about something that may harm the printer: No unless Yes is chosen.
    bool askDefaultNo(std::string_view text, PromptIcon icon = PromptIcon::Exclamation)
    {
        return show(text, PromptButtons::YesNoDefaultNo, icon, kAppDisplayName) == PromptAnswer::Yes;
    }
};
