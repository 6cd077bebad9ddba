#include "ui/AboutWindow.h"

#include "core/ProgramInfo.h"
#include "ui/DesktopActions.h"
#include "ui/EnterKey.h"
#include "ui/ScreenReader.h"
#include "ui/SecondaryWindow.h"
#include "ui/TextFit.h"
#include "ui/Twips.h"

#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace quavera {

namespace {

constexpr char kDescription[] =
    "Quavera是一个非常小巧的免费MP3文件剪切软件，可以把MP3文件剪切为MP3片段，把您需要的MP3片段提取"
    "出来，非常适合做铃声制作软件。\n"
    "   Quavera操作很简单，只需要设置需要剪切MP3文件的起点和终点，然后保存就可以了。\n"
    "新版Quavera对MP3文件剪切更准确。";

QLabel* AddLabel(QWidget* window, const char* name, const QString& text, const QRect& place) {
    auto* label = new QLabel(text, window);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(place);
    return label;
}

QFont TitleFont() {
    QFont font;
    // The title's own face first; the CJK faces Linux desktops carry stand in for it.
    font.setFamilies({QStringLiteral("宋体-PUA"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(18);
    font.setBold(true);
    return font;
}

} // namespace

AboutWindow::AboutWindow(ProcessLauncher& launcher, MessageBoxes& messages)
    : QWidget(nullptr), launcher_(launcher), messages_(messages) {
    SetAccessibleRole(*this, QAccessible::Dialog);
    setObjectName(QStringLiteral("FrmA"));
    setWindowTitle(QStringLiteral("关于Quavera"));
    SetUpSecondaryWindow(*this, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(TwipsToPixels(4785), TwipsToPixels(3960));

    QLabel* picture = AddLabel(this, "Image1", QString(), TwipsRect(240, 120, 480, 480));
    // 32 by 32 on screen; at a scale factor of 2 from the 64-pixel drawing, not enlarged.
    picture->setPixmap(ProgramIcon().pixmap(QSize(32, 32), devicePixelRatioF()));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QLabel* title = AddLabel(this, "Label1", QString::fromUtf8(info::kMainCaption),
                             TwipsRect(1080, 120, 3135, 495));
    title->setFont(TitleFont());

    QLabel* description =
        AddLabel(this, "Label2", QString::fromUtf8(kDescription), TwipsRect(240, 960, 4215, 1215));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    AddLabel(this, "Label3", QStringLiteral("联系我们："), TwipsRect(240, 2280, 4215, 255));
    AddLabel(this, "Label4", QStringLiteral("Email：") + QString::fromUtf8(info::kContactEmail),
             TwipsRect(600, 2520, 2895, 255));
    AddLabel(this, "Label6", QStringLiteral("感谢您选择我们的软件！"),
             TwipsRect(240, 2760, 2895, 255));

    // "&H" makes Alt+H the access key; "(Q)" is plain text and gives no key.
    QPushButton* help = AddButton(this, "Command1", "帮助(&H)", TwipsRect(840, 3120, 1455, 495));
    QPushButton* ok = AddButton(this, "Command2", "确定(Q)", TwipsRect(2280, 3120, 1455, 495));
    defaultButton_ = ok; // Enter is routed in keyPressEvent

    AddLabel(this, "Label5", QString::fromUtf8(info::kRightsNotice), TwipsRect(0, 3720, 4575, 255));

    setTabOrder(help, ok);
    help->setFocus(Qt::OtherFocusReason);
    FrameTheEnterTarget(*this, ok);

    connect(help, &QPushButton::clicked, this, [this] { openHelp(); });
    connect(ok, &QPushButton::clicked, this, &QWidget::close);

    // The CJK faces set lines about one and a half characters apart: at most fonts the six
    // lines of the description need more than their place, and the window grows to show them.
    GiveTextsRoom(*this);
    CentreOnScreen(*this);
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
    if (!HandleEnterKey(*this, *event, defaultButton_)) {
        QWidget::keyPressEvent(event);
    }
}

void AboutWindow::openHelp() {
    OpenAddress(launcher_, messages_, BundledPageAddress(info::kHelpPageFile));
}

} // namespace quavera
