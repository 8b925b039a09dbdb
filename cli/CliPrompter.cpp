#include "cli/CliPrompter.h"

#include <iostream>
#include <unistd.h>

namespace {

// The catalog's texts break lines with "\r\n"; on a terminal a continuation line is
// indented under the first.
std::string terminalText(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            continue;
        out += text[i];
        if (text[i] == '\n')
            out += "  ";
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n'))
        out.pop_back();
    return out;
}

bool isQuestion(PromptButtons buttons)
{
    return buttons != PromptButtons::Ok;
}

} // namespace

CliPrompter::CliPrompter(bool assumeYes)
    : CliPrompter(assumeYes, ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO), std::cin, std::cerr)
{
}

CliPrompter::CliPrompter(bool assumeYes, bool interactive, std::istream& in, std::ostream& err)
    : m_assumeYes(assumeYes), m_interactive(interactive), m_in(in), m_err(err)
{
}

PromptAnswer CliPrompter::show(std::string_view text, PromptButtons buttons, PromptIcon, std::string_view caption)
{
    std::lock_guard lock(m_mutex);
    std::string prefix = caption.empty() ? std::string("tavroctl") : std::string(caption);
    m_err << prefix << ": " << terminalText(text);
    if (!isQuestion(buttons)) {
        m_err << "\n" << std::flush;
        return PromptAnswer::Ok;
    }
    const PromptAnswer yes = buttons == PromptButtons::OkCancel ? PromptAnswer::Ok : PromptAnswer::Yes;
    const PromptAnswer no = buttons == PromptButtons::OkCancel ? PromptAnswer::Cancel : PromptAnswer::No;
    if (m_assumeYes) {
        m_err << " [y/N] y (--yes)\n" << std::flush;
        return yes;
    }
    if (!m_interactive) {
        m_err << " [y/N] n (not a terminal; --yes answers yes)\n" << std::flush;
        return no;
    }
    m_err << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(m_in, answer))
        return no;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? yes : no;
}

std::optional<std::string> CliPrompter::askOutputFileName()
{
    std::lock_guard lock(m_mutex);
    return m_outputFile;
}

void CliPrompter::setOutputFileName(std::optional<std::string> name)
{
    std::lock_guard lock(m_mutex);
    m_outputFile = std::move(name);
}
