#include "ui/MainWindow.h"

#include "core/PartWriter.h"
#include "core/ProgramInfo.h"
#include "core/SourceCheck.h"
#include "ui/AboutWindow.h"
#include "ui/DesktopActions.h"
#include "ui/EnterKey.h"
#include "ui/PreviewWindow.h"
#include "ui/ScreenReader.h"
#include "ui/SecondaryWindow.h"
#include "ui/TextFit.h"
#include "ui/Twips.h"
#include "ui/WrappingButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <optional>
#include <stdexcept>

namespace quavera {

namespace {

constexpr int kTimerIntervalMs = 1000;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The layout was measured in SimSun, whose Latin letters are half as wide as its ideographs;
// where it is missing, the monospaced Noto CJK face has the same proportions.
QFont Songti(double points, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Sans Mono CJK SC")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry) {
    auto* button = new WrappingButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    return button;
}

QLineEdit* MakePathBox(QWidget* parent, const char* name, const QRect& geometry) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    // Only the browse buttons fill the path boxes: no typing, no selecting.
    box->setEnabled(false);
    return box;
}

// The file a drop would load: the first of the dragged items, when it is a local file. A
// folder is no file: the open dialog cannot choose one either.
std::optional<std::string> DroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) {
        return std::nullopt;
    }
    const QUrl first = data->urls().constFirst();
    if (!first.isLocalFile() || first.toLocalFile().isEmpty()) {
        return std::nullopt;
    }
    std::string file = first.toLocalFile().toStdString();
    if (CheckSource(file).kind == SourceKind::Folder) {
        return std::nullopt;
    }
    return file;
}

} // namespace

MainWindow::MainWindow(const MainServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      services_(services) {
    SetAccessibleRole(*this, QAccessible::Window); // a frame, for a screen reader
    setObjectName(QStringLiteral("Frm"));
    setWindowTitle(Text(info::kMainCaption));
    setWindowIcon(ProgramIcon());
    setFixedSize(TwipsToPixels(6705), TwipsToPixels(3510));
    setFont(Songti(9, false));

    buildTopArea();
    player_ = services_.makePlayer ? services_.makePlayer(this) : nullptr;
    if (player_ == nullptr) {
        throw std::invalid_argument("MainWindow needs a player");
    }
    player_->setObjectName(QStringLiteral("MDplay"));
    player_->setGeometry(TwipsRect(120, 1200, 6480, 1395));
    buildButtonRow();
    buildTimeRow();
    buildSizeFields();

    marks_ = std::make_unique<MarkCommands>(services_.program, *player_, services_.messages, *this);
    commands_ = std::make_unique<MainCommands>(services_, *marks_, *player_, *this);
    marks_->splitFields.changed = [this] { mirrorSplitFields(); };
    mirrorSplitFields();

    bindCommand(cmdBrowseS_, [this] { commands_->ChooseSource(); });
    bindCommand(cmdBrowseD_, [this] { commands_->ChooseDestination(); });
    bindCommand(cmdO_, [this] { commands_->OpenDestinationFolder(); });
    bindCommand(cmdQ_, [this] { marks_->Start(); });
    bindCommand(command1_, [this] { marks_->End(); });
    bindCommand(command2_, [this] { commands_->Audition(); });
    bindCommand(command3_, [this] { commands_->About(); });
    bindCommand(command4_, [this] { commands_->OtherFormats(); });
    setTabOrderAndFocus();

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(kTimerIntervalMs);
    connect(timer1_, &QTimer::timeout, this, [this] { marks_->RefreshLength(); });

    // Load: the file filter and the first-run offer come before the window first shows.
    commands_->Load();
    timer1_->start();

    // The CJK faces set their lines taller than the layout's boxes. The labels filled later are
    // given the room of the longest text they show: two lines of "剪切完成，请试听！", and the
    // most seconds a time can have.
    const std::array<QLabel*, 4> filledLater{lb_, lbz_, lbk_, lbj_};
    for (QLabel* label : filledLater) {
        label->setText(label == lb_ ? Text(kCutFinishedCaption) : QStringLiteral(" 32767秒"));
    }
    GiveTextsRoom(*frame2_);
    GiveTextsRoom(*this);
    for (QLabel* label : filledLater) {
        label->clear();
    }
    CentreOnScreen(*this);
    setAcceptDrops(true);
}

MainWindow::~MainWindow() {
    // The size fields' widgets go with the window; the core must no longer reach them.
    marks_->splitFields.changed = nullptr;
}

void MainWindow::buildTopArea() {
    frame2_ = new QGroupBox(this);
    frame2_->setObjectName(QStringLiteral("Frame2"));
    frame2_->setGeometry(TwipsRect(120, 0, 6495, 1215));

    QLabel* label1 = MakeLabel(frame2_, "Label1", QStringLiteral("请选择MP3文件："),
                               TwipsRect(120, 360, 1455, 255));
    txtSource_ = MakePathBox(frame2_, "txtSource", TwipsRect(1440, 240, 3735, 375));
    // A screen reader names each path box after its prompt; the prompts have no access key, so
    // nothing on screen changes.
    label1->setBuddy(txtSource_);
    cmdBrowseS_ =
        MakeButton(frame2_, "cmdBrowseS", QStringLiteral("浏览"), TwipsRect(5280, 240, 1095, 375));

    auto* line1 = new QFrame(frame2_);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setFrameShape(QFrame::NoFrame);
    line1->setGeometry(TwipsToPixels(0), TwipsToPixels(650), TwipsToPixels(6480), 1);
    QPalette linePalette = line1->palette();
    linePalette.setColor(QPalette::Window, QColor(192, 192, 255));
    line1->setPalette(linePalette);
    line1->setAutoFillBackground(true);

    QLabel* label2 = MakeLabel(frame2_, "Label2", QStringLiteral("请选择存放的文件夹："),
                               TwipsRect(120, 840, 1935, 255));
    txtDestdir_ = MakePathBox(frame2_, "txtDestdir", TwipsRect(1920, 720, 2415, 375));
    label2->setBuddy(txtDestdir_);
    cmdBrowseD_ =
        MakeButton(frame2_, "cmdBrowseD", QStringLiteral("浏览"), TwipsRect(4440, 720, 855, 375));
    cmdO_ =
        MakeButton(frame2_, "cmdO", QStringLiteral("打开文件夹"), TwipsRect(5280, 720, 1095, 375));
}

void MainWindow::buildButtonRow() {
    cmdQ_ = MakeButton(this, "cmdQ", QStringLiteral("开始(&S)"), TwipsRect(120, 2640, 1095, 495));
    command1_ =
        MakeButton(this, "Command1", QStringLiteral("结束(&P)"), TwipsRect(1200, 2640, 975, 495));
    // The default button; Enter reaches it through keyPressEvent, and the default frame follows
    // the button Enter clicks (see setTabOrderAndFocus).
    lb_ = MakeLabel(this, "lb", QString(), TwipsRect(2400, 2640, 1215, 495));
    lb_->setFont(Songti(10.5, true));
    // Two lines of status are taller than the label with the CJK fonts we have: centred, both
    // lines stay readable.
    lb_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    command2_ =
        MakeButton(this, "Command2", QStringLiteral("试听(&T)"), TwipsRect(3960, 2640, 855, 495));
    command4_ = MakeButton(this, "Command4", QStringLiteral("剪切其他格式？"),
                           TwipsRect(4800, 2640, 975, 495));
    command3_ =
        MakeButton(this, "Command3", QStringLiteral("关于(&A)"), TwipsRect(5760, 2640, 855, 495));
    command3_->setFont(Songti(9, true));
}

void MainWindow::buildTimeRow() {
    MakeLabel(this, "lbzdf", QStringLiteral("总时间："), TwipsRect(120, 3240, 735, 255));
    lbz_ = MakeLabel(this, "lbz", QString(), TwipsRect(960, 3240, 1095, 255));
    QLabel* label3 =
        MakeLabel(this, "Label3", QStringLiteral("开始时间："), TwipsRect(2160, 3240, 900, 180));
    // Lower than one line of text: centred, the glyphs are not cut off at the bottom.
    label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lbk_ = MakeLabel(this, "lbk", QString(), TwipsRect(3000, 3240, 855, 255));
    MakeLabel(this, "Label5", QStringLiteral("结束时间："), TwipsRect(3960, 3240, 975, 375));
    lbj_ = MakeLabel(this, "lbj", QString(), TwipsRect(4920, 3240, 855, 255));
}

void MainWindow::buildSizeFields() {
    // The size fields do their work unseen: the frame is hidden and lies below the client area.
    frame1_ = new QGroupBox(QString::fromUtf8(kSizeCaptionTitle), this);
    frame1_->setObjectName(QStringLiteral("Frame1"));
    frame1_->setGeometry(TwipsRect(120, 3720, 3495, 855));
    frame1_->setVisible(false);
    constexpr std::array<int, SplitFields::kCount> lefts{360, 1320, 2280};
    for (int index = 0; index < SplitFields::kCount; ++index) {
        auto* box = new QLineEdit(frame1_);
        box->setObjectName(QStringLiteral("txtSplit%1").arg(index));
        box->setGeometry(TwipsRect(lefts.at(index), 360, 855, 375));
        box->setMaxLength(static_cast<int>(SplitFields::kMaxLength));
        connect(box, &QLineEdit::textEdited, this, [this, index](const QString& text) {
            marks_->splitFields.setText(index, text.toStdString());
        });
        txtSplit_.at(index) = box;
    }
}

void MainWindow::setTabOrderAndFocus() {
    // Frames, labels, the disabled path boxes and the hidden size fields never take the focus.
    // A player that only takes the focus in its own controls is skipped by setTabOrder; those
    // controls come in their place because the player is made between the two button groups.
    // The buttons follow their places on screen, left to right: 剪切其他格式？ before 关于.
    const std::array<QWidget*, 9> order{cmdBrowseS_, cmdBrowseD_, cmdO_,     player_,  cmdQ_,
                                        command1_,   command2_,   command4_, command3_};
    for (std::size_t index = 1; index < order.size(); ++index) {
        setTabOrder(order.at(index - 1), order.at(index));
    }
    cmdBrowseS_->setFocus(Qt::OtherFocusReason);
    FrameTheEnterTarget(*this, command1_);
}

void MainWindow::bindCommand(QAbstractButton* button, std::function<void()> command) {
    connect(button, &QAbstractButton::clicked, this,
            [this, command = std::move(command)] { runCommand(command); });
}

void MainWindow::runCommand(const std::function<void()>& command) {
    // The cut yields to the event loop before every block: a command arriving then must not
    // start a second cut, load a part still being written, or open a dialog over it.
    if (marks_->cutRunning()) {
        return;
    }
    // A cut this command starts sees the waiting events before its first block.
    yield_.makeDue();
    command();
    // Start, End and a new source change which marks the player shows.
    player_->showMarks(marks_->startMarkOnSource(), marks_->endMarkOnSource());
    if (closeRequested_ && !marks_->cutRunning()) {
        close();
    }
}

void MainWindow::openSource(const std::string& path) {
    runCommand([this, &path] { commands_->LoadSource(path); });
}

void MainWindow::mirrorSplitFields() {
    for (int index = 0; index < SplitFields::kCount; ++index) {
        QLineEdit* box = txtSplit_.at(index);
        const QString text = Text(marks_->splitFields.text(index));
        if (box->text() != text) {
            box->setText(text);
        }
        box->setReadOnly(marks_->splitFields.locked());
    }
}

void MainWindow::setBusyPointer(bool busy) {
    // The busy pointer spans the cut: the player's own reading waits meanwhile.
    player_->holdBackgroundWork(busy);
    if (busy) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void MainWindow::setStatusCaption(const std::string& text) {
    lb_->setText(Text(text));
    // The label shows it to the eye; a screen reader, whose focus is elsewhere, is told.
    if (text == kCutFinishedCaption) {
        Announce(*this, Text(text));
    }
}

void MainWindow::setStartCaption(const std::string& text) {
    lbk_->setText(Text(text));
    if (!text.empty()) {
        Announce(*this, QStringLiteral("开始时间：") + Text(text).trimmed());
    }
}

void MainWindow::setEndCaption(const std::string& text) {
    lbj_->setText(Text(text));
}

void MainWindow::setTotalCaption(const std::string& text) {
    lbz_->setText(Text(text));
}

bool MainWindow::yieldToEvents() {
    yield_();
    return !closeRequested_;
}

void MainWindow::showPaths() {
    txtSource_->setText(Text(marks_->sourceText));
    txtDestdir_->setText(Text(marks_->destText));
}

void MainWindow::setSizeCaption(const std::string& text) {
    frame1_->setTitle(Text(text));
}

MediaPlayer& MainWindow::showPreview() {
    if (preview_.isNull()) {
        // The preview may outlive this window; then it reads an empty destination.
        auto destinationText = [window = QPointer<MainWindow>(this)] {
            return window.isNull() ? std::string() : window->marks_->destText;
        };
        preview_ = new PreviewWindow(services_.makePlayer, services_.launcher, services_.messages,
                                     services_.program, destinationText);
    }
    preview_->show();
    preview_->raise();
    preview_->activateWindow();
    return preview_->MDst();
}

void MainWindow::showAbout() {
    if (about_.isNull()) {
        about_ = new AboutWindow(services_.launcher, services_.messages);
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Command1 is the default button: Enter clicks it unless the focus is on another button.
    if (!HandleEnterKey(*this, *event, command1_)) {
        QWidget::keyPressEvent(event);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (marks_->cutRunning()) {
        // The cut stops before its next block and removes its files; the window closes as
        // soon as the End command has returned.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    closeRequested_ = false;
    timer1_->stop();
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    // Refused here, the drag cursor already tells the user that nothing would happen.
    if (!marks_->cutRunning() && DroppedFile(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const std::optional<std::string> file = DroppedFile(event->mimeData());
    if (!file || marks_->cutRunning()) {
        return;
    }
    event->acceptProposedAction();
    openSource(*file);
}

} // namespace quavera
