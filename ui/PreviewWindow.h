#pragma once

#include "core/CutState.h"
#include "interfaces/MediaPlayer.h"
#include "interfaces/MessageBoxes.h"
#include "interfaces/ProcessLauncher.h"
#include "ui/PlayerView.h"

#include <QWidget>
#include <functional>
#include <string>

class QKeyEvent;
class QPushButton;

namespace quavera {

// FrmST: plays the kept piece of a cut and lets the user keep it, delete it or open the folder.
// A free-standing tool window that deletes itself when closed; the main window shows it, gives
// MDst the file to play and records that file in ProgramState::PreviewFile.
class PreviewWindow : public QWidget {
public:
    // destinationText reads the main window's destination box at the moment it is called, and
    // gives empty text once the main window is gone.
    PreviewWindow(const PlayerFactory& makePlayer, ProcessLauncher& launcher,
                  MessageBoxes& messages, ProgramState& program,
                  std::function<std::string()> destinationText);

    MediaPlayer& MDst();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void keepPiece();
    void deletePiece();
    void openFolder();

    ProcessLauncher& launcher_;
    MessageBoxes& messages_;
    ProgramState& program_;
    std::function<std::string()> destinationText_;
    PlayerView* player_;
};

} // namespace quavera
