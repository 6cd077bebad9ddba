#include "core/MarkCommands.h"

#include "core/NumberText.h"
#include "core/PieceHead.h"
#include "core/ProgramInfo.h"
#include "core/SplitPlan.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

namespace quavera {

namespace {

constexpr char kStartFirstText[] = "请先选择起点！";
constexpr char kChooseFolderText[] = "请选择要存放的文件夹！";
constexpr char kEndBeforeStartText[] = "结束点必须在开始点之后，请重新选择开始和结束！";
constexpr char kStartedCaption[] = "开始。。。";
constexpr char kEmptyFirstPartText[] = "0.0";
// Start waits no longer than this for the source's frames: the window stays responsive.
constexpr std::chrono::milliseconds kLongestFramesWait{50};

// The commands run in resume-next style: every step below is one that may fail, and a failed
// step is skipped together with its assignment. Each helper gives the step's value, or nothing
// when the step fails; the caller assigns only a value.

std::optional<double> Finite(double value) {
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> PlayerDuration(const MediaPlayer& player) {
    const auto duration = player.duration();
    return duration ? Finite(*duration) : std::nullopt;
}

// A player still loading its file reports a length of 0.
bool PlayerHasLength(const MediaPlayer& player) {
    const auto duration = PlayerDuration(player);
    return duration && *duration > 0.0;
}

// A source to cut: the player plays it (a length of 0 is a file still loading, whose marks would
// map to no bytes and leave the previous source's sizes in the fields), and it holds MPEG audio
// frames (a text, a picture or a WAV named .mp3 is no source to cut).
bool Playable(const MediaPlayer& player, const std::shared_ptr<const FrameIndex>& frames) {
    return PlayerHasLength(player) && frames && frames->hasAudio();
}

std::optional<std::string> PositionText(const MediaPlayer& player) {
    const auto position = player.currentPosition();
    if (!position || !Finite(*position))
        return std::nullopt;
    return NumberText(*position);
}

// The source's size in KB as FormatKB writes it (one decimal), read back as a number.
std::optional<double> SizeInKB(std::int32_t sourceSize) {
    return ParseNumber(FormatKB(sourceSize));
}

std::optional<double> MarkSeconds(const std::string& mark) {
    const auto seconds = ParseNumber(mark);
    return seconds ? Finite(*seconds) : std::nullopt;
}

// The byte offset of the frame that plays at a mark; the step fails for a mark that is no number.
std::optional<std::int64_t> MarkOffset(const FrameIndex& frames, const std::string& mark) {
    const auto seconds = MarkSeconds(mark);
    return seconds ? std::optional<std::int64_t>(frames.OffsetAt(*seconds)) : std::nullopt;
}

// Where the piece that starts at a mark begins: a frame or two before the one that plays then,
// whose overlap the first kept samples need.
std::optional<std::int64_t> PieceOffset(const FrameIndex& frames, const std::string& mark) {
    const auto seconds = MarkSeconds(mark);
    return seconds ? std::optional<std::int64_t>(PieceBegin(frames, *seconds)) : std::nullopt;
}

// A size field's text for `bytes`: at most eight characters, the nearest that falls at or below
// `bytes` (or at or above it). The piece thus begins a few bytes before its first frame header at
// most and ends a few bytes into the next frame: every frame it holds stays whole, and decoders
// pass over the stray bytes.
std::optional<std::string> FieldTextNear(std::int64_t bytes, bool atOrAbove) {
    const double kilobytes = static_cast<double>(bytes) / 1024.0;
    const int wholeDigits = static_cast<int>(NumberText(std::floor(kilobytes)).size());
    const int decimals = std::max(0, static_cast<int>(SplitFields::kMaxLength) - wholeDigits - 1);
    const double scale = std::pow(10.0, decimals);
    double units = atOrAbove ? std::ceil(kilobytes * scale) : std::floor(kilobytes * scale);
    // The field is read in single precision: a step or two may be needed to land on the side asked.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string text = NumberText(units / scale).substr(0, SplitFields::kMaxLength);
        const auto size = FieldByteSize(text);
        if (!size)
            return std::nullopt;
        if (atOrAbove ? *size >= bytes : *size <= bytes)
            return text;
        units += atOrAbove ? 1 : -1;
    }
    return std::nullopt;
}

// The size field of the part before the start mark. The plan drops a field holding exactly "0"
// as empty, which would move the piece into the first place and keep what follows the end mark
// instead; a start at the very beginning is written as a first part of no bytes.
std::optional<std::string> StartFieldText(std::int64_t startBytes) {
    return startBytes == 0 ? std::optional<std::string>(kEmptyFirstPartText)
                           : FieldTextNear(startBytes, false);
}

std::string SecondsCaption(const std::optional<double>& seconds) {
    const auto whole = seconds ? WholeSeconds(*seconds) : std::nullopt;
    return SecondsText(whole.value_or(0));
}

void ShowOk(MessageBoxes& messages, const std::string& text, const std::string& title,
            MessageIcon icon) {
    messages.show(text, title, icon, MessageButtons::Ok);
}

// Marks a cut as running for as long as it lives, also when the cut ends by an exception.
class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;
    ~RunningFlag() { flag_ = false; }

private:
    bool& flag_;
};

} // namespace

MarkCommands::MarkCommands(ProgramState& program, MediaPlayer& player, MessageBoxes& messages,
                           CutWindow& window, SourceFrames::Reader readFrames)
    : program_(program), player_(player), messages_(messages), window_(window),
      sourceFrames_(std::move(readFrames)) {}

void MarkCommands::Start() {
    if (cutRunning_)
        return; // a click let through by the running cut's yields
    // The frames of a long file on a slow card may still be on their way: after a moment Start
    // takes its mark without them, and End, which waits for them anyway, finds the offset.
    std::shared_ptr<const FrameIndex> frames;
    bool framesPending = false;
    if (!player_.URL().empty() && PlayerHasLength(player_)) {
        frames = framesWaitedFor(kLongestFramesWait);
        framesPending = !frames && sourceFrames_.reading(sourceText);
        if (frames && !frames->hasAudio())
            frames.reset();
    }
    if (!frames && !framesPending) {
        ShowOk(messages_, kChooseMp3Text, info::kErrorTitle, MessageIcon::Critical);
        return;
    }

    if (const auto duration = PlayerDuration(player_))
        program_.MediaDuration = *duration;
    if (const auto mark = PositionText(player_)) {
        program_.StartMark = *mark;
        startMarkStale_ = false;
    }
    if (const auto sizeKB = SizeInKB(cut.SourceSize))
        program_.SourceSizeKB = *sizeKB;
    startOffsetPending_ = framesPending;
    if (const auto offset = frames ? PieceOffset(*frames, program_.StartMark) : std::nullopt) {
        if (const auto text = StartFieldText(*offset)) {
            splitFields.setText(0, *text);
            startFrames_ = frames;
        }
    }
    window_.setStatusCaption(kStartedCaption);
    window_.setStartCaption(SecondsCaption(ParseNumber(program_.StartMark)));
}

void MarkCommands::End() {
    if (cutRunning_)
        return; // a click let through by the running cut's yields

    if (const auto duration = PlayerDuration(player_))
        program_.MediaDuration = *duration;
    if (const auto mark = PositionText(player_)) {
        program_.EndMark = *mark;
        endMarkStale_ = false;
    }
    if (const auto sizeKB = SizeInKB(cut.SourceSize))
        program_.SourceSizeKB = *sizeKB;
    bool emptyPiece = false;
    std::optional<PieceLayout> layout;
    const auto frames = framesWaitedFor(std::nullopt);
    if (frames && frames->hasAudio()) {
        const auto startSeconds = MarkSeconds(program_.StartMark);
        const auto endSeconds = MarkSeconds(program_.EndMark);
        if (startSeconds && endSeconds && !startMarkStale_)
            layout = LayOutPiece(*frames, sourceText, *startSeconds, *endSeconds);
        std::optional<std::int64_t> start;
        std::optional<std::int64_t> end;
        if (!layout) {
            // Without a layout (no sample between the marks, a change of stream, a free-format
            // stream, a source that cannot be read) the piece is the same frames up to the one
            // that plays at the end mark, without a head; marks on one frame or in the wrong
            // order are refused as ever.
            end = MarkOffset(*frames, program_.EndMark);
            start = end ? MarkOffset(*frames, program_.StartMark) : std::nullopt;
            // Still whole frames: the fields, in KB, may begin a few bytes before the first
            // frame and end a few bytes into the next, or into the tags after the audio.
            if (start && *end > *start)
                layout = PieceLayout{{}, *PieceOffset(*frames, program_.StartMark), *end};
        }
        if (layout) {
            start = layout->copyBegin;
            end = layout->copyEnd;
        }
        const auto startText = start ? StartFieldText(*start) : std::nullopt;
        if (startText) {
            // Start came before the frames, or the file was indexed anew since (it changed on
            // disk): the start is written, or moves, here.
            if (startOffsetPending_ || (startFrames_ && frames != startFrames_)) {
                splitFields.setText(0, *startText);
                startFrames_ = frames;
                startOffsetPending_ = false;
            }
            // The piece is copied from its layout's range, which the fields must hold whole.
            std::optional<std::string> pieceText;
            if (*end > *start)
                pieceText = FieldTextNear(*end - *FieldByteSize(*startText), true);
            else // the plan refuses a negative piece; an empty one is refused below
                pieceText = NumberText(static_cast<double>(*end - *start) / 1024.0);
            if (pieceText)
                splitFields.setText(1, *pieceText);
            // The plan would drop the "0" as an empty field and keep all after the start.
            emptyPiece = *end == *start;
        }
    }
    // An overflow while planning fails the plan like a refusal.
    const bool planned = !emptyPiece && BuildSplitPlan(destText, sourceText, splitFields, cut) ==
                                            PlanResult::Planned;

    if (player_.URL().empty()) {
        refuseEnd(kStartFirstText, info::kProgramTitle);
        return;
    }
    if (!Playable(player_, frames)) {
        refuseEnd(kChooseMp3Text, info::kHintTitle);
        return;
    }
    if (startMarkStale_) {
        refuseEnd(kStartFirstText, info::kProgramTitle);
        return;
    }
    if (destText.empty()) {
        refuseEnd(kChooseFolderText, info::kHintTitle);
        return;
    }
    // A kept part of no bytes would be announced as a finished cut.
    if (emptyPiece || (planned && cut.LastPart >= 1 && cut.PartSizes.at(1) == 0)) {
        refuseEnd(kEndBeforeStartText, info::kHintTitle);
        return;
    }
    if (!planned) {
        refuseEnd(kChooseMp3Text, info::kHintTitle);
        return;
    }

    CutReport report;
    {
        const RunningFlag running(cutRunning_);
        report = WriteParts(cut, CutPaths{sourceText, destText}, splitFields, program_.EndMark,
                            window_, player_, {}, layout);
    }
    if (!report.ok()) {
        markCutUnfinished();
        reportCutFailure(report);
        return;
    }
    lastCutUnfinished_ = false;
    // What this cut wrote: a preview deletes that file, not one put under its name afterwards.
    writtenPiece_ = IdentityOf(PartFileName(cut, 1));
    // A preview left open may still name an earlier cut's piece: its delete must not reach a
    // file this cut did not write. 试听 gives it this cut's piece.
    if (program_.PreviewFile != PartFileName(cut, 1)) {
        program_.PreviewFile.clear();
        program_.PreviewIdentity.reset();
    } else {
        program_.PreviewIdentity = writtenPiece_;
    }
}

std::optional<double> MarkCommands::startMarkOnSource() const {
    return startMarkStale_ ? std::nullopt : ParseNumber(program_.StartMark);
}

std::optional<double> MarkCommands::endMarkOnSource() const {
    return endMarkStale_ ? std::nullopt : ParseNumber(program_.EndMark);
}

void MarkCommands::RefreshLength() {
    if (const auto duration = PlayerDuration(player_))
        program_.MediaDuration = *duration;
    window_.setTotalCaption(SecondsCaption(program_.MediaDuration));
}

void MarkCommands::SourceChosen() {
    startMarkStale_ = endMarkStale_ = true;
    startFrames_.reset();
    startOffsetPending_ = false;
    sourceFrames_.Prepare(sourceText);
}

// The source's frames, waited for with the busy pointer up while they are still being read (or
// read again, the file having changed): at most `longest` when given.
std::shared_ptr<const FrameIndex>
MarkCommands::framesWaitedFor(std::optional<std::chrono::milliseconds> longest) {
    if (auto frames = sourceFrames_.tryGet(sourceText))
        return frames;
    if (!sourceFrames_.reading(sourceText))
        return nullptr;
    window_.setBusyPointer(true);
    auto frames = sourceFrames_.waitFor(sourceText, longest);
    window_.setBusyPointer(false);
    return frames;
}

void MarkCommands::refuseEnd(const std::string& text, const std::string& title) {
    markCutUnfinished();
    ShowOk(messages_, text, title, MessageIcon::None);
}

// No finished caption or end time stays on screen for a cut that did not finish, and the open
// preview no longer names a file for its delete: that file is not this cut's.
void MarkCommands::markCutUnfinished() {
    lastCutUnfinished_ = true;
    writtenPiece_.reset();
    program_.PreviewFile.clear();
    program_.PreviewIdentity.reset();
    window_.setStatusCaption("");
    window_.setEndCaption("");
}

void MarkCommands::reportCutFailure(const CutReport& report) {
    const std::string reason = report.reason.empty() ? std::string() : "\n" + report.reason;
    switch (report.outcome) {
    case CutOutcome::Written:
    case CutOutcome::Abandoned: // the window is closing: nobody is left to read a message
        return;
    case CutOutcome::NegativePart:
        ShowOk(messages_, kEndBeforeStartText, info::kHintTitle, MessageIcon::None);
        return;
    case CutOutcome::SourceIsPartFile:
        ShowOk(messages_,
               "铃声文件会覆盖源文件本身，未剪切：\n" + report.file + "\n请选择其他存放的文件夹！",
               info::kHintTitle, MessageIcon::Warning);
        return;
    case CutOutcome::SourceUnreadable:
        ShowOk(messages_, "剪切失败，无法读取源文件：\n" + report.file + reason, info::kErrorTitle,
               MessageIcon::Critical);
        return;
    case CutOutcome::SourceTooShort:
        ShowOk(messages_, "剪切失败，源文件比选择时短，可能已被修改：\n" + report.file,
               info::kErrorTitle, MessageIcon::Critical);
        return;
    case CutOutcome::PartUnwritable:
        ShowOk(messages_, "剪切失败，无法写入铃声文件：\n" + report.file + reason,
               info::kErrorTitle, MessageIcon::Critical);
        return;
    }
}

} // namespace quavera
