#include "ui/MainCommands.h"

#include "core/NumberText.h"
#include "core/PathText.h"
#include "core/ProgramInfo.h"
#include "core/SourceCheck.h"
#include "ui/DesktopActions.h"

#include <cstdint>

namespace quavera {

namespace {

inline constexpr char kSourceTooLargeText[] = "所选的文件太大（2 GB 或以上），无法剪切：\n";

} // namespace

std::string SizeCaption(std::int32_t sourceBytes) {
    return std::string(kSizeCaptionTitle) + "（" + FormatKB(sourceBytes) + " KB）";
}

MainCommands::MainCommands(const MainServices& services, MarkCommands& marks, MediaPlayer& player,
                           MainView& view)
    : services_(services), marks_(marks), player_(player), view_(view) {}

void MainCommands::Load() {
    services_.openDialog.setFilter(kSourceFilter);
    if (services_.firstRunOffer) {
        services_.firstRunOffer();
    }
}

void MainCommands::ChooseSource() {
    const std::optional<std::string> chosen = services_.openDialog.showOpen();
    // A cancelled dialog leaves everything as it was: no repeated choice, no restarted playback.
    if (!chosen || chosen->empty()) {
        return;
    }
    LoadSource(*chosen);
}

void MainCommands::LoadSource(const std::string& path) {
    const SourceCheck source = CheckSource(path);
    // The size is counted in 32 bits throughout the cut; a larger file cannot be cut at all.
    if (source.kind == SourceKind::TooLarge) {
        services_.messages.show(kSourceTooLargeText + path, info::kErrorTitle,
                                MessageIcon::Critical, MessageButtons::Ok);
        return;
    }
    // A folder given on the command line is no source, as the dialog and a drop refuse one.
    if (source.kind == SourceKind::Folder) {
        services_.messages.show(kChooseMp3Text, info::kErrorTitle, MessageIcon::Critical,
                                MessageButtons::Ok);
        return;
    }

    marks_.sourceText = path;
    marks_.SourceChosen();
    if (marks_.destText.empty()) {
        marks_.destText = FolderOf(path);
    }
    view_.showPaths();
    // A size that cannot be read keeps the previous size and caption; the rest still happens.
    if (source.kind == SourceKind::File) {
        marks_.cut.SourceSize = source.length;
        view_.setSizeCaption(SizeCaption(marks_.cut.SourceSize));
    }
    // A FIFO or device is no source: the player, which opens its file on this thread, would wait
    // on it for ever. It gets none, so Start and End ask for an MP3 file.
    static_cast<void>(player_.setURL(source.kind == SourceKind::Special ? std::string() : path));
    marks_.RefreshLength();
    view_.setStartCaption("");
    view_.setEndCaption("");
}

void MainCommands::ChooseDestination() {
    const std::optional<std::string> folder = services_.folderPicker.browseForFolder(kFolderPrompt);
    if (!folder || folder->empty()) {
        return; // cancelled: the box keeps its text
    }
    marks_.destText = folder->back() == '/' ? *folder : *folder + '/';
    view_.showPaths();
}

void MainCommands::OpenDestinationFolder() {
    static_cast<void>(OpenFolder(services_.launcher, services_.messages, marks_.destText));
}

void MainCommands::Audition() {
    MediaPlayer& previewPlayer = view_.showPreview();
    // After a cut that did not finish, the captured names may name an older piece the user
    // kept: the preview gets no file, so its delete cannot remove that piece.
    const std::string keptPart =
        marks_.lastCutUnfinished() ? std::string() : PartFileName(marks_.cut, 1);
    // A name that refers to no file is the player's business: it just plays nothing.
    static_cast<void>(previewPlayer.setURL(keptPart));
    services_.program.PreviewFile = keptPart;
    services_.program.PreviewIdentity = keptPart.empty() ? std::nullopt : marks_.writtenPiece();
}

void MainCommands::About() {
    view_.showAbout();
}

void MainCommands::OtherFormats() {
    static_cast<void>(OpenAddress(services_.launcher, services_.messages,
                                  BundledPageAddress(info::kFormatsPageFile)));
}

} // namespace quavera
