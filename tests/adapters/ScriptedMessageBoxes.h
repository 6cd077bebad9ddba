#pragma once

#include "interfaces/MessageBoxes.h"

#include <string>
#include <vector>

namespace quavera::testing {

// Answers every message box with one fixed answer and keeps what was shown.
class ScriptedMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        std::string text;
        std::string title;
        MessageIcon icon;
        MessageButtons buttons;
    };

    explicit ScriptedMessageBoxes(MessageAnswer answer) : answer_(answer) {}

    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        shown.push_back({text, title, icon, buttons});
        return answer_;
    }

    std::vector<Shown> shown;

private:
    MessageAnswer answer_;
};

} // namespace quavera::testing
