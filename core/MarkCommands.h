#pragma once

#include "core/CutState.h"
#include "core/CutWindow.h"
#include "core/PartWriter.h"
#include "core/SourceFrames.h"
#include "core/SplitFields.h"
#include "interfaces/MediaPlayer.h"
#include "interfaces/MessageBoxes.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace quavera {

// Asks for a source that can be cut: no file, no MP3 audio, or a folder.
inline constexpr char kChooseMp3Text[] = "请选择要剪切的MP3文件！";

// The main window's cutting state and its Start, End and length-refresh commands.
// The window owns one, binds its widgets to it and forwards clicks and timer ticks.
class MarkCommands {
public:
    MarkCommands(ProgramState& program, MediaPlayer& player, MessageBoxes& messages,
                 CutWindow& window, SourceFrames::Reader readFrames = &FrameIndex::Read);
    MarkCommands(const MarkCommands&) = delete;
    MarkCommands& operator=(const MarkCommands&) = delete;

    void Start();         // cmdQ
    void End();           // Command1
    void RefreshLength(); // Timer1 tick, and right after a new source is loaded
    // A new source was chosen (sourceText holds it): the marks taken on the previous one no
    // longer count, and the new one's frames are read in the background.
    void SourceChosen();
    // The marks taken on the current source, in seconds; nothing where none was taken yet.
    [[nodiscard]] std::optional<double> startMarkOnSource() const;
    [[nodiscard]] std::optional<double> endMarkOnSource() const;

    [[nodiscard]] bool cutRunning() const { return cutRunning_; }
    // Whether the chosen source's frames are read, so that Start takes its offset at once.
    [[nodiscard]] bool sourceFramesRead() const { return sourceFrames_.finished(sourceText); }
    // True when the most recent End did not write its piece: the captured names then refer to
    // a file that End did not write, and the preview must not be given it.
    [[nodiscard]] bool lastCutUnfinished() const { return lastCutUnfinished_; }
    // The piece the most recent finished cut wrote, as it wrote it; nothing after any other End.
    [[nodiscard]] const std::optional<FileIdentity>& writtenPiece() const { return writtenPiece_; }

    CutState cut;
    SplitFields splitFields;
    std::string sourceText; // txtSource
    std::string destText;   // txtDestdir

private:
    [[nodiscard]] std::shared_ptr<const FrameIndex>
    framesWaitedFor(std::optional<std::chrono::milliseconds> longest);
    void refuseEnd(const std::string& text, const std::string& title);
    void markCutUnfinished();
    void reportCutFailure(const CutReport& report);

    ProgramState& program_;
    MediaPlayer& player_;
    MessageBoxes& messages_;
    CutWindow& window_;
    SourceFrames sourceFrames_;
    // The index the last Start took its offset from; End writes the start again when the file
    // was indexed anew since.
    std::shared_ptr<const FrameIndex> startFrames_;
    bool startOffsetPending_ = false; // Start took its mark before the frames were read
    bool cutRunning_ = false;
    bool startMarkStale_ = false;
    bool endMarkStale_ = false;
    bool lastCutUnfinished_ = false;
    std::optional<FileIdentity> writtenPiece_;
};

} // namespace quavera
