#pragma once

#include "core/CutState.h"
#include "core/CutWindow.h"
#include "core/PartWriter.h"
#include "core/SplitFields.h"
#include "platform/api/MediaPlayer.h"
#include "platform/api/MessageBoxes.h"

#include <string>

namespace quavera {

// The main window's cutting state and its Start, End and length-refresh commands.
// The window owns one, binds its widgets to it and forwards clicks and timer ticks.
class MarkCommands {
public:
    MarkCommands(ProgramState& program, MediaPlayer& player, MessageBoxes& messages,
                 CutWindow& window);
    MarkCommands(const MarkCommands&) = delete;
    MarkCommands& operator=(const MarkCommands&) = delete;

    void Start();         // cmdQ
    void End();           // Command1
    void RefreshLength(); // Timer1 tick, and right after a new source is loaded

    [[nodiscard]] bool cutRunning() const { return cutRunning_; }

    CutState cut;
    SplitFields splitFields;
    std::string sourceText; // txtSource
    std::string destText;   // txtDestdir

private:
    void reportCutFailure(const CutReport& report);

    ProgramState& program_;
    MediaPlayer& player_;
    MessageBoxes& messages_;
    CutWindow& window_;
    bool cutRunning_ = false;
};

} // namespace quavera
