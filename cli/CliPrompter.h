#pragma once
// tavroctl's message boxes: every box is one message on stderr. Questions are answered Yes
// by --yes, else by the user at a terminal, else No (a script never hangs on a question).
// The "Print to File" question is answered with the file of --port file:PATH.
#include "app/Prompter.h"

#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

class CliPrompter final : public Prompter {
public:
    // assumeYes: --yes. interactive: ask on err and read the answer from in (the default
    // is true when stdin and stderr are both terminals).
    explicit CliPrompter(bool assumeYes);
    CliPrompter(bool assumeYes, bool interactive, std::istream& in, std::ostream& err);

    // Any thread may call it (the watch thread shows "m_QueueRead FULL!" from its own).
    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                      std::string_view caption) override;
    std::optional<std::string> askOutputFileName() override;

    void setOutputFileName(std::optional<std::string> name);

private:
    const bool m_assumeYes;
    const bool m_interactive;
    std::istream& m_in;
    std::ostream& m_err;
    std::mutex m_mutex;
    std::optional<std::string> m_outputFile;
};
