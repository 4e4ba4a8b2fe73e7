#pragma once

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/TPrompter.h"

namespace tarnwick::test {

// A prompter that records every message and question and answers from a script, in order. A
// question beyond the script, or an answer that was not among the offered buttons, fails loudly.
class TScriptedPrompter : public core::TPrompter
{
public:
    struct TEntry
    {
        core::TMessageKind Kind;
        std::string Text;
        std::vector<core::TAnswer> Buttons; // empty for Inform
    };

    explicit TScriptedPrompter(std::vector<core::TAnswer> answers = {})
        : Answers(answers.begin(), answers.end())
    {}

    void Inform(core::TMessageKind kind, const std::string& text) override
    {
        Log.push_back({kind, text, {}});
    }

    core::TAnswer Ask(core::TMessageKind kind, const std::string& text,
                      const std::vector<core::TAnswer>& buttons) override
    {
        Log.push_back({kind, text, buttons});
        if (Answers.empty())
            throw std::logic_error("unexpected question: " + text);
        const core::TAnswer answer = Answers.front();
        Answers.pop_front();
        bool offered = false;
        for (const auto button : buttons)
            offered = offered || button == answer;
        if (!offered)
            throw std::logic_error("scripted answer not among the buttons of: " + text);
        return answer;
    }

    std::deque<core::TAnswer> Answers;
    std::vector<TEntry> Log;
};

} // namespace tarnwick::test
