#pragma once

#include "interfaces/MessageBoxes.h"
#include "interfaces/ProcessLauncher.h"

#include <QWidget>

class QKeyEvent;
class QPushButton;

namespace quavera {

// FrmA: the program's title, what it does, whom to write to, and a button to the help page.
// A free-standing tool window of fixed size that deletes itself when closed.
class AboutWindow : public QWidget {
public:
    AboutWindow(ProcessLauncher& launcher, MessageBoxes& messages);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openHelp();

    ProcessLauncher& launcher_;
    MessageBoxes& messages_;
    QPushButton* defaultButton_ = nullptr;
};

} // namespace quavera
