#pragma once

#include "core/CutState.h"
#include "interfaces/Dialogs.h"
#include "interfaces/MessageBoxes.h"
#include "interfaces/ProcessLauncher.h"
#include "ui/PlayerView.h"

#include <functional>

namespace quavera {

// Everything the main window works with that is made outside it: the real services in the
// program, fakes in the tests. The referenced objects must outlive the window.
struct MainServices {
    MessageBoxes& messages;
    FileOpenDialog& openDialog;
    FolderPicker& folderPicker;
    ProcessLauncher& launcher;
    std::function<void()> firstRunOffer; // runs once, while the window loads
    PlayerFactory makePlayer;            // MDplay, and MDst of every preview window
    ProgramState& program;
};

} // namespace quavera
