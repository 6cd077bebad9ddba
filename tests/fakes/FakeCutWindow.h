#pragma once

#include "Journal.h"
#include "core/CutWindow.h"

#include <functional>
#include <string>

namespace quavera::testing {

// Records what the cutting commands show on the main window. `onYield` stands for the events
// the window handles during a cut (clicks, timer ticks, a close); its answer is what
// yieldToEvents returns.
class FakeCutWindow : public CutWindow {
public:
    explicit FakeCutWindow(Journal* journal = nullptr) : journal_(journal) {}

    void setBusyPointer(bool busy) override {
        Note(journal_, busy ? "pointer:busy" : "pointer:default");
        this->busy = busy;
        ++pointerChanges;
    }
    void setStatusCaption(const std::string& text) override {
        Note(journal_, "lb:" + text);
        statusCaption = text;
    }
    void setStartCaption(const std::string& text) override {
        Note(journal_, "lbk:" + text);
        startCaption = text;
    }
    void setEndCaption(const std::string& text) override {
        Note(journal_, "lbj:" + text);
        endCaption = text;
    }
    void setTotalCaption(const std::string& text) override {
        Note(journal_, "lbz:" + text);
        totalCaption = text;
    }
    bool yieldToEvents() override {
        ++yields;
        return onYield ? onYield(yields) : true;
    }

    bool busy = false;
    int pointerChanges = 0;
    int yields = 0;
    std::string statusCaption;
    std::string startCaption;
    std::string endCaption;
    std::string totalCaption;
    std::function<bool(int yieldNumber)> onYield;

private:
    Journal* journal_;
};

} // namespace quavera::testing
