#pragma once

#include "adapters/FileKeyValueStore.h"
#include "adapters/QtFileOpenDialog.h"
#include "adapters/QtFolderPicker.h"
#include "adapters/QtMessageBoxes.h"
#include "adapters/XdgProcessLauncher.h"
#include "app/FirstRunOffer.h"
#include "core/CutState.h"
#include "core/RegistryStrings.h"
#include "ui/MainWindow.h"

#include <QPointer>
#include <QTranslator>

namespace quavera {

// The program's name, version and desktop entry, for Qt, the window system and the
// configuration folder. Needs no application object; comes before the Program.
void IdentifyProgram();

// Settles what must be in place before the application object exists.
void PrepareProcessEnvironment();

// The program as it starts: its translations, its real services and the main window built on
// them. Needs the QApplication and IdentifyProgram; making one asks the first-run question.
class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    [[nodiscard]] MainWindow& window() { return *window_; }
    // The message boxes of the program, owned by the main window.
    [[nodiscard]] MessageBoxes& messages() { return messages_; }

private:
    QTranslator qtTranslation_;
    QtMessageBoxes messages_;
    QtFileOpenDialog openDialog_;
    QtFolderPicker folderPicker_;
    XdgProcessLauncher launcher_;
    FileKeyValueStore store_;
    RegistryStrings registry_;
    ProgramState state_;
    // Closing the main window deletes it (its player stops; a preview that stays open reads
    // an empty destination from then on), so the program holds it only weakly.
    QPointer<MainWindow> window_;
};

} // namespace quavera
