#pragma once

#include "core/CutWindow.h"
#include "interfaces/MediaPlayer.h"

#include <string>

namespace quavera {

// What the main window's commands do to the window besides the cutting captions.
class MainView : public CutWindow {
public:
    // Shows MarkCommands::sourceText and destText in txtSource and txtDestdir.
    virtual void showPaths() = 0;
    virtual void setSizeCaption(const std::string& text) = 0; // Frame1
    // Shows the preview window, creating it when none is open, and gives its player MDst.
    virtual MediaPlayer& showPreview() = 0;
    // Shows the About window, creating it when none is open.
    virtual void showAbout() = 0;
};

} // namespace quavera
