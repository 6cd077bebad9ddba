#include "core/MarkCommands.h"

#include "core/AudioHeader.h"
#include "core/NumberText.h"
#include "core/ProgramInfo.h"
#include "core/SplitPlan.h"

#include <cmath>
#include <optional>

namespace quavera {

namespace {

constexpr char kChooseSourceText[] = "请选择要剪切的MP3文件！";
constexpr char kStartFirstText[] = "请先选择起点！";
constexpr char kChooseFolderText[] = "请选择要存放的文件夹！";
constexpr char kEndBeforeStartText[] = "结束点必须在开始点之后，请重新选择开始和结束！";
constexpr char kErrorTitle[] = "错误";
constexpr char kHintTitle[] = "提示";
constexpr char kStartedCaption[] = "开始。。。";
constexpr char kEmptyFirstPartText[] = "0.0";

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

// mark ÷ duration × size in KB, left to right; dividing by a zero duration fails the step.
std::optional<double> MarkInKB(const std::string& mark, double duration, double sizeKB) {
    const auto seconds = ParseNumber(mark);
    if (!seconds || duration == 0.0)
        return std::nullopt;
    return Finite(*seconds / duration * sizeKB);
}

// The size field of the part before the start mark. The plan drops a field holding exactly "0"
// as empty, which would move the piece into the first place and keep what follows the end mark
// instead; a start at the very beginning is written as a first part of no bytes.
std::string StartFieldText(double startKB) {
    return startKB == 0.0 ? std::string(kEmptyFirstPartText) : NumberText(startKB);
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
                           CutWindow& window)
    : program_(program), player_(player), messages_(messages), window_(window) {}

void MarkCommands::Start() {
    if (cutRunning_)
        return; // a click let through by the running cut's yields
    if (player_.URL().empty() || !sourceIsPlayableMp3()) {
        ShowOk(messages_, kChooseSourceText, kErrorTitle, MessageIcon::Critical);
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
    if (const auto startKB =
            MarkInKB(program_.StartMark, program_.MediaDuration, program_.SourceSizeKB))
        splitFields.setText(0, StartFieldText(*startKB));
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
    {
        const double duration = program_.MediaDuration;
        const double sizeKB = program_.SourceSizeKB;
        const auto endKB = MarkInKB(program_.EndMark, duration, sizeKB);
        const auto startKB = endKB ? MarkInKB(program_.StartMark, duration, sizeKB) : std::nullopt;
        if (startKB) {
            if (const auto pieceKB = Finite(*endKB - *startKB)) {
                splitFields.setText(1, NumberText(*pieceKB));
                // The plan would drop the "0" as an empty field and keep all after the start.
                emptyPiece = *pieceKB == 0.0;
            }
        }
    }
    // An overflow while planning fails the plan like a refusal.
    const bool planned = !emptyPiece && BuildSplitPlan(destText, sourceText, splitFields, cut) ==
                                            PlanResult::Planned;

    if (player_.URL().empty()) {
        refuseEnd(kStartFirstText, info::kProgramTitle);
        return;
    }
    if (!sourceIsPlayableMp3()) {
        refuseEnd(kChooseSourceText, kHintTitle);
        return;
    }
    if (startMarkStale_) {
        refuseEnd(kStartFirstText, info::kProgramTitle);
        return;
    }
    if (destText.empty()) {
        refuseEnd(kChooseFolderText, kHintTitle);
        return;
    }
    // A kept part of no bytes would be announced as a finished cut.
    if (emptyPiece || (planned && cut.LastPart >= 1 && cut.PartSizes.at(1) == 0)) {
        refuseEnd(kEndBeforeStartText, kHintTitle);
        return;
    }
    if (!planned) {
        refuseEnd(kChooseSourceText, kHintTitle);
        return;
    }

    CutReport report;
    {
        const RunningFlag running(cutRunning_);
        report = WriteParts(cut, CutPaths{sourceText, destText}, splitFields, program_.EndMark,
                            window_, player_);
    }
    if (!report.ok()) {
        markCutUnfinished();
        reportCutFailure(report);
        return;
    }
    lastCutUnfinished_ = false;
    // A preview left open may still name an earlier cut's piece: its delete must not reach a
    // file this cut did not write. 试听 gives it this cut's piece.
    if (program_.PreviewFile != PartFileName(cut, 1))
        program_.PreviewFile.clear();
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

// The player cannot play what it was given (it reports no length), or the file does not begin
// as MP3 audio: a text, a picture or a WAV named .mp3 is no source to cut. A length of 0 is a
// file still loading: its marks would map to no bytes and leave the previous source's sizes in
// the fields, so it does not count either.
bool MarkCommands::sourceIsPlayableMp3() const {
    const auto duration = PlayerDuration(player_);
    return duration && *duration > 0.0 && StartsAsMp3Audio(sourceText);
}

void MarkCommands::refuseEnd(const std::string& text, const std::string& title) {
    markCutUnfinished();
    ShowOk(messages_, text, title, MessageIcon::None);
}

// No finished caption or end time stays on screen for a cut that did not finish, and the open
// preview no longer names a file for its delete: that file is not this cut's.
void MarkCommands::markCutUnfinished() {
    lastCutUnfinished_ = true;
    program_.PreviewFile.clear();
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
        ShowOk(messages_, kEndBeforeStartText, kHintTitle, MessageIcon::None);
        return;
    case CutOutcome::SourceIsPartFile:
        ShowOk(messages_,
               "铃声文件会覆盖源文件本身，未剪切：\n" + report.file + "\n请选择其他存放的文件夹！",
               kHintTitle, MessageIcon::Warning);
        return;
    case CutOutcome::SourceUnreadable:
        ShowOk(messages_, "剪切失败，无法读取源文件：\n" + report.file + reason, kErrorTitle,
               MessageIcon::Critical);
        return;
    case CutOutcome::SourceTooShort:
        ShowOk(messages_, "剪切失败，源文件比选择时短，可能已被修改：\n" + report.file, kErrorTitle,
               MessageIcon::Critical);
        return;
    case CutOutcome::PartUnwritable:
        ShowOk(messages_, "剪切失败，无法写入铃声文件：\n" + report.file + reason, kErrorTitle,
               MessageIcon::Critical);
        return;
    }
}

} // namespace quavera
