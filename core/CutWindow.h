#pragma once

#include <string>

namespace quavera {

// What the cutting commands do to the main window, apart from the size fields.
class CutWindow {
public:
    virtual ~CutWindow() = default;

    virtual void setBusyPointer(bool busy) = 0;                 // hourglass while a cut runs
    virtual void setStatusCaption(const std::string& text) = 0; // lb
    virtual void setStartCaption(const std::string& text) = 0;  // lbk
    virtual void setEndCaption(const std::string& text) = 0;    // lbj
    virtual void setTotalCaption(const std::string& text) = 0;  // lbz
    // Lets the window handle the events waiting now; called before every copied block.
    // Returns false when the cut must be abandoned (the window is closing).
    virtual bool yieldToEvents() = 0;
};

} // namespace quavera
