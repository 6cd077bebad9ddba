#include "core/MarkCommands.h"

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
    if (player_.URL().empty()) {
        ShowOk(messages_, kChooseSourceText, kErrorTitle, MessageIcon::Critical);
        return;
    }

    if (const auto duration = PlayerDuration(player_))
        program_.MediaDuration = *duration;
    if (const auto mark = PositionText(player_))
        program_.StartMark = *mark;
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
    if (const auto mark = PositionText(player_))
        program_.EndMark = *mark;
    if (const auto sizeKB = SizeInKB(cut.SourceSize))
        program_.SourceSizeKB = *sizeKB;
    {
        const double duration = program_.MediaDuration;
        const double sizeKB = program_.SourceSizeKB;
        const auto endKB = MarkInKB(program_.EndMark, duration, sizeKB);
        const auto startKB = endKB ? MarkInKB(program_.StartMark, duration, sizeKB) : std::nullopt;
        if (startKB) {
            if (const auto pieceKB = Finite(*endKB - *startKB))
                splitFields.setText(1, NumberText(*pieceKB));
        }
    }
    // An overflow while planning fails the plan like a refusal.
    const bool planned =
        BuildSplitPlan(destText, sourceText, splitFields, cut) == PlanResult::Planned;

    if (player_.URL().empty()) {
        ShowOk(messages_, kStartFirstText, info::kProgramTitle, MessageIcon::None);
        return;
    }
    if (destText.empty()) {
        ShowOk(messages_, kChooseFolderText, kHintTitle, MessageIcon::None);
        return;
    }
    if (!planned) {
        ShowOk(messages_, kChooseSourceText, kHintTitle, MessageIcon::None);
        return;
    }

    CutReport report;
    {
        const RunningFlag running(cutRunning_);
        report = WriteParts(cut, CutPaths{sourceText, destText}, splitFields, program_.EndMark,
                            window_, player_);
    }
    if (!report.ok())
        reportCutFailure(report);
}

void MarkCommands::RefreshLength() {
    if (const auto duration = PlayerDuration(player_))
        program_.MediaDuration = *duration;
    window_.setTotalCaption(SecondsCaption(program_.MediaDuration));
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
