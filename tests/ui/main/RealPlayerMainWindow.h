#pragma once

#include "MainWindowFakes.h"
#include "adapters/QtPlayerView.h"
#include "ui/MainWindow.h"

#include <memory>

namespace quavera::testing {

// The main window with the real player, on the fakes of its own rig, shown and asked to be
// active. When it goes, the preview and About windows it opened go too, and then the rig.
struct RealPlayerMainWindow {
    RealPlayerMainWindow() {
        rig.makePlayer = makeQtPlayerFactory();
        window = std::make_unique<MainWindow>(rig.services());
        window->show();
        window->activateWindow();
    }
    ~RealPlayerMainWindow() {
        window.reset();
        CloseSecondaryWindows();
    }
    RealPlayerMainWindow(const RealPlayerMainWindow&) = delete;
    RealPlayerMainWindow& operator=(const RealPlayerMainWindow&) = delete;

    MainWindowRig rig;
    std::unique_ptr<MainWindow> window;
};

} // namespace quavera::testing
