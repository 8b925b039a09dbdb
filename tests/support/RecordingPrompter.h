#pragma once
// A Prompter that records every box and answers questions from a script (Yes when the
// script is empty), and the output file name question from a preset answer.
#include "app/Prompter.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class RecordingPrompter final : public Prompter {
public:
    struct Box {
        std::string text;
        PromptButtons buttons;
        PromptIcon icon;
        std::string caption;
    };

    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon icon,
                      std::string_view caption) override
    {
        std::lock_guard lock(m_mutex);
        m_boxes.push_back({std::string(text), buttons, icon, std::string(caption)});
        if (buttons == PromptButtons::Ok)
            return PromptAnswer::Ok;
        if (!m_answers.empty()) {
            PromptAnswer a = m_answers.front();
            m_answers.pop_front();
            return a;
        }
        return buttons == PromptButtons::OkCancel ? PromptAnswer::Ok : PromptAnswer::Yes;
    }
    std::optional<std::string> askOutputFileName() override
    {
        std::lock_guard lock(m_mutex);
        ++m_fileNameQuestions;
        return m_fileName;
    }

    void scriptAnswers(std::initializer_list<PromptAnswer> answers)
    {
        std::lock_guard lock(m_mutex);
        m_answers.insert(m_answers.end(), answers);
    }
    void setOutputFileName(std::optional<std::string> name)
    {
        std::lock_guard lock(m_mutex);
        m_fileName = std::move(name);
    }
    std::vector<Box> boxes() const
    {
        std::lock_guard lock(m_mutex);
        return m_boxes;
    }
    std::vector<std::string> texts() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> out;
        for (auto& b : m_boxes)
            out.push_back(b.text);
        return out;
    }
    int fileNameQuestions() const
    {
        std::lock_guard lock(m_mutex);
        return m_fileNameQuestions;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_boxes.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Box> m_boxes;
    std::deque<PromptAnswer> m_answers;
    std::optional<std::string> m_fileName;
    int m_fileNameQuestions = 0;
};
