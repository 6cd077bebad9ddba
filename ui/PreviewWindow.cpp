#include "ui/PreviewWindow.h"

#include "core/ProgramInfo.h"
#include "ui/DesktopActions.h"
#include "ui/EnterKey.h"
#include "ui/ScreenReader.h"
#include "ui/SecondaryWindow.h"
#include "ui/TextFit.h"
#include "ui/Twips.h"

#include <QKeyEvent>
#include <QPushButton>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace quavera {

namespace {

// Said when the file under the piece's name is no longer the piece the cut wrote.
constexpr char kReplacedPieceText[] = "铃声文件在剪切之后已被替换或修改，未删除：\n";

enum class PieceCheck { Gone, Ours, Replaced };

// Whether the file at `pieceFile` is still the piece the cut wrote. Only a file named by a full
// path counts: before any cut the name has no folder, and a file of that name in the folder the
// program was started from belongs to someone else. A folder is never the piece.
PieceCheck CheckPiece(const std::string& pieceFile, const std::optional<FileIdentity>& written) {
    const std::filesystem::path piece(pieceFile);
    std::error_code ignored;
    if (!piece.is_absolute() || std::filesystem::is_directory(piece, ignored) ||
        !std::filesystem::exists(std::filesystem::symlink_status(piece, ignored))) {
        return PieceCheck::Gone;
    }
    // Another cut (of this program or another instance) may have put a new piece under the same
    // name since: device, inode, size and time tell.
    const std::optional<FileIdentity> now = IdentityOf(pieceFile);
    return written && now == written ? PieceCheck::Ours : PieceCheck::Replaced;
}

} // namespace

PreviewWindow::PreviewWindow(const PlayerFactory& makePlayer, ProcessLauncher& launcher,
                             MessageBoxes& messages, ProgramState& program,
                             std::function<std::string()> destinationText)
    : QWidget(nullptr), launcher_(launcher), messages_(messages), program_(program),
      destinationText_(std::move(destinationText)), player_(makePlayer(this)) {
    if (player_ == nullptr) {
        throw std::invalid_argument("PreviewWindow needs a player");
    }
    SetAccessibleRole(*this, QAccessible::Window); // a frame, for a screen reader
    setObjectName(QStringLiteral("FrmST"));
    setWindowTitle(QStringLiteral("试听--Quavera"));
    // A sizable tool window: the user may resize it, but the controls keep their places.
    SetUpSecondaryWindow(*this, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                    Qt::WindowCloseButtonHint);
    resize(TwipsToPixels(4680), TwipsToPixels(3750));

    player_->setObjectName(QStringLiteral("MDst"));
    player_->setGeometry(TwipsRect(0, 0, 4680, 3195));
    QPushButton* keep = AddButton(this, "Command1", "满意！关闭", TwipsRect(120, 3240, 1575, 495));
    QPushButton* remove =
        AddButton(this, "Command2", "不满意，删除！", TwipsRect(1680, 3240, 1695, 495));
    QPushButton* folder =
        AddButton(this, "Command3", "打开文件夹", TwipsRect(3360, 3240, 1215, 495));
    setTabOrder(player_, keep);
    setTabOrder(keep, remove);
    setTabOrder(remove, folder);

    connect(keep, &QPushButton::clicked, this, [this] { keepPiece(); });
    connect(remove, &QPushButton::clicked, this, [this] { deletePiece(); });
    connect(folder, &QPushButton::clicked, this, [this] { openFolder(); });

    GiveTextsRoom(*this); // a large desktop font needs wider buttons
    CentreOnScreen(*this);
}

MediaPlayer& PreviewWindow::MDst() {
    return *player_;
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    // No default button here: Enter only presses the button that has the focus.
    if (!HandleEnterKey(*this, *event, nullptr)) {
        QWidget::keyPressEvent(event);
    }
}

void PreviewWindow::keepPiece() {
    // The player is a child of the window and goes with it, which releases the file.
    close();
}

void PreviewWindow::deletePiece() {
    // Each step runs whatever became of the one before, and none of them complains.
    player_->setURL(std::string()); // let go of the file before deleting it
    switch (CheckPiece(program_.PreviewFile, program_.PreviewIdentity)) {
    case PieceCheck::Ours: {
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::path(program_.PreviewFile), ignored);
        break;
    }
    case PieceCheck::Replaced:
        messages_.show(kReplacedPieceText + program_.PreviewFile, info::kHintTitle,
                       MessageIcon::Warning, MessageButtons::Ok);
        break;
    case PieceCheck::Gone:
        break; // nothing to delete, nothing to say
    }
    close();
}

void PreviewWindow::openFolder() {
    // Read at the click: the user may have chosen another folder since the cut.
    const std::string folder = destinationText_ ? destinationText_() : std::string();
    OpenFolder(launcher_, messages_, folder);
}

} // namespace quavera
