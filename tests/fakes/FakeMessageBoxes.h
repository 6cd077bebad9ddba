#pragma once

#include "Journal.h"
#include "interfaces/MessageBoxes.h"

#include <deque>
#include <string>
#include <vector>

namespace quavera::testing {

// Records every message box and answers it: with the queued answers first, then `answer`.
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Shown {
        std::string text;
        std::string title;
        MessageIcon icon;
        MessageButtons buttons;
    };

    explicit FakeMessageBoxes(Journal* journal = nullptr) : journal_(journal) {}

    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        Note(journal_, "message:" + title + ":" + text);
        shown.push_back({text, title, icon, buttons});
        if (!queuedAnswers.empty()) {
            const MessageAnswer next = queuedAnswers.front();
            queuedAnswers.pop_front();
            return next;
        }
        return answer;
    }

    std::vector<Shown> shown;
    std::deque<MessageAnswer> queuedAnswers;
    MessageAnswer answer = MessageAnswer::Ok;

private:
    Journal* journal_;
};

} // namespace quavera::testing
