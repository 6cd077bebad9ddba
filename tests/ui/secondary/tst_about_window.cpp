#include "SecondaryFakes.h"
#include "core/ProgramInfo.h"
#include "ui/AboutWindow.h"
#include "ui/DesktopActions.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextDocumentFragment>

using namespace quavera;
using namespace quavera::testing;

class AboutWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowIsAFixedToolWindowWithCloseOnly();
    void controlsSitWhereTheLayoutPutsThem_data();
    void controlsSitWhereTheLayoutPutsThem();
    void textsReadAsWritten_data();
    void textsReadAsWritten();
    void titleIsLargeAndBold();
    void pictureIsTheProgramIconAtNaturalSize();

    void focusStartsOnHelpAndEnterOpensTheHelpPage();
    void enterOnOkOrWithoutFocusedButtonCloses_data();
    void enterOnOkOrWithoutFocusedButtonCloses();
    void altHOpensHelpAndAltQDoesNothing();
    void helpThatCannotBeOpenedSaysSo();

private:
    AboutWindow* showWindow();
    QPushButton* button(const char* name) const;

    RecordingLauncher launcher_;
    AnsweringMessageBoxes messages_;
    QPointer<AboutWindow> window_;
    QFont desktopFont_;
};

void AboutWindowTest::init() {
    launcher_ = RecordingLauncher();
    messages_ = AnsweringMessageBoxes();
    // A font small enough for every text to fit the layout's places: they are kept then.
    desktopFont_ = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 6));
}

void AboutWindowTest::cleanup() {
    QApplication::setFont(desktopFont_);
    delete window_.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

AboutWindow* AboutWindowTest::showWindow() {
    window_ = new AboutWindow(launcher_, messages_);
    window_->show();
    QApplication::setActiveWindow(window_);
    if (!QTest::qWaitForWindowActive(window_)) {
        return nullptr;
    }
    return window_;
}

QPushButton* AboutWindowTest::button(const char* name) const {
    return window_->findChild<QPushButton*>(QString::fromLatin1(name));
}

void AboutWindowTest::windowIsAFixedToolWindowWithCloseOnly() {
    AboutWindow* window = showWindow();
    QVERIFY(window != nullptr);
    QCOMPARE(window->objectName(), QString("FrmA"));
    QCOMPARE(window->windowTitle(), QString("关于Quavera"));
    QCOMPARE(window->size(), QSize(319, 264));
    QCOMPARE(window->minimumSize(), QSize(319, 264));
    QCOMPARE(window->maximumSize(), QSize(319, 264));
    QVERIFY(window->parentWidget() == nullptr);
    QCOMPARE(window->windowType(), Qt::Tool);
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(window->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(!window->windowIcon().isNull());
    const QPoint offCentre =
        window->frameGeometry().center() - window->screen()->availableGeometry().center();
    QVERIFY(offCentre.manhattanLength() <= 8);
}

void AboutWindowTest::controlsSitWhereTheLayoutPutsThem_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    QTest::newRow("Image1") << "Image1" << QRect(16, 8, 32, 32);
    // The title's face sets its 18 points a little taller than its place, centred on it.
    QTest::newRow("Label1") << "Label1" << QRect(72, 7, 209, 35);
    QTest::newRow("Label2") << "Label2" << QRect(16, 64, 281, 81);
    QTest::newRow("Label3") << "Label3" << QRect(16, 152, 281, 17);
    QTest::newRow("Label4") << "Label4" << QRect(40, 168, 193, 17);
    QTest::newRow("Label6") << "Label6" << QRect(16, 184, 193, 17);
    QTest::newRow("Command1") << "Command1" << QRect(56, 208, 97, 33);
    QTest::newRow("Command2") << "Command2" << QRect(152, 208, 97, 33);
    QTest::newRow("Label5") << "Label5" << QRect(0, 248, 305, 17);
}

void AboutWindowTest::controlsSitWhereTheLayoutPutsThem() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    window_ = new AboutWindow(launcher_, messages_);
    auto* control = window_->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->parentWidget(), window_.data());
    QCOMPARE(control->geometry(), place);
}

void AboutWindowTest::textsReadAsWritten_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("Label1") << "Label1"
                            << "QuaveraV" QUAVERA_VERSION;
    QTest::newRow("Label2")
        << "Label2"
        << "Quavera是一个非常小巧的免费MP3文件剪切软件，可以把MP3文件剪切为MP3片段，"
           "把您需要的MP3片段提取出来，非常适合做铃声制作软件。\n"
           "   Quavera操作很简单，只需要设置需要剪切MP3文件的起点和终点，然后保存就可以了。\n"
           "新版Quavera对MP3文件剪切更准确。";
    QTest::newRow("Label3") << "Label3"
                            << "联系我们：";
    QTest::newRow("Label4") << "Label4" << QString("Email：") + info::kContactEmail;
    QTest::newRow("Label6") << "Label6"
                            << "感谢您选择我们的软件！";
    QTest::newRow("Label5") << "Label5" << QString::fromUtf8(info::kRightsNotice);
    QTest::newRow("Command1") << "Command1"
                              << "帮助(&H)";
    QTest::newRow("Command2") << "Command2"
                              << "确定(Q)";
}

void AboutWindowTest::textsReadAsWritten() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    window_ = new AboutWindow(launcher_, messages_);
    QWidget* control = window_->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        if (label->textFormat() == Qt::RichText) {
            QCOMPARE(QTextDocumentFragment::fromHtml(label->text()).toPlainText(), text);
        } else {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(label->text(), text);
        }
    } else {
        auto* asButton = qobject_cast<QPushButton*>(control);
        QVERIFY(asButton != nullptr);
        QCOMPARE(asButton->text(), text);
    }
    if (name == "Label2") {
        auto* description = qobject_cast<QLabel*>(control);
        QVERIFY(description->wordWrap());
        // All of it shows: the wrapped lines fit the label's height.
        QVERIFY2(description->heightForWidth(description->width()) <= description->height(),
                 qPrintable(QString::number(description->heightForWidth(description->width()))));
    }
}

void AboutWindowTest::titleIsLargeAndBold() {
    window_ = new AboutWindow(launcher_, messages_);
    const QFont font = window_->findChild<QLabel*>("Label1")->font();
    QCOMPARE(font.families().value(0), QString("宋体-PUA"));
    QCOMPARE(font.pointSize(), 18);
    QVERIFY(font.bold());
    // The other texts keep the window's font.
    QCOMPARE(window_->findChild<QLabel*>("Label2")->font(), window_->font());
}

void AboutWindowTest::pictureIsTheProgramIconAtNaturalSize() {
    window_ = new AboutWindow(launcher_, messages_);
    const QPixmap picture = window_->findChild<QLabel*>("Image1")->pixmap();
    QCOMPARE(picture.size(), QSize(32, 32));
    QCOMPARE(picture.toImage().convertToFormat(QImage::Format_RGB32),
             QImage(":/quavera/quavera.png").convertToFormat(QImage::Format_RGB32));
}

void AboutWindowTest::focusStartsOnHelpAndEnterOpensTheHelpPage() {
    AboutWindow* window = showWindow();
    QVERIFY(window != nullptr);
    QCOMPARE(QApplication::focusWidget(), button("Command1"));
    // The default frame is drawn where Enter goes.
    QVERIFY(button("Command1")->isDefault());
    QVERIFY(!button("Command2")->isDefault());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

    QCOMPARE(launcher_.starts.size(), 1u);
    QCOMPARE(launcher_.starts[0].program, std::string("xdg-open"));
    QCOMPARE(launcher_.starts[0].argument, BundledPageAddress(info::kHelpPageFile));
    QVERIFY(!window_.isNull());
    QVERIFY(window->isVisible());
    QVERIFY(messages_.shown.empty());
}

void AboutWindowTest::enterOnOkOrWithoutFocusedButtonCloses_data() {
    QTest::addColumn<bool>("focusOk");
    QTest::addColumn<int>("key");
    QTest::newRow("Tab to 确定(Q), Return") << true << int(Qt::Key_Return);
    QTest::newRow("Tab to 确定(Q), keypad Enter") << true << int(Qt::Key_Enter);
    QTest::newRow("no button focused, Return") << false << int(Qt::Key_Return);
}

void AboutWindowTest::enterOnOkOrWithoutFocusedButtonCloses() {
    QFETCH(bool, focusOk);
    QFETCH(int, key);
    AboutWindow* window = showWindow();
    QVERIFY(window != nullptr);
    if (focusOk) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button("Command2"));
    } else {
        QApplication::focusWidget()->clearFocus();
        QVERIFY(QApplication::focusWidget() == nullptr);
    }
    // Either way Enter closes the window, so 确定(Q) alone carries the default frame.
    QVERIFY(button("Command2")->isDefault());
    QVERIFY(!button("Command1")->isDefault());
    QWidget* receiver = QApplication::focusWidget() ? QApplication::focusWidget() : window;

    QTest::keyClick(receiver, Qt::Key(key));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(window_.isNull());
    QVERIFY(launcher_.starts.empty());
}

void AboutWindowTest::altHOpensHelpAndAltQDoesNothing() {
    AboutWindow* window = showWindow();
    QVERIFY(window != nullptr);
    const std::string help = BundledPageAddress(info::kHelpPageFile);

    // An access key works wherever the focus is; the button clicks a moment later.
    button("Command2")->setFocus();
    QTest::keyClick(window, Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(launcher_.starts.size(), 1u);
    QCOMPARE(launcher_.starts[0].argument, help);

    // Alt+Q, then Alt+H once more: by the time the second help click has come through, anything
    // Alt+Q set off would have happened too.
    QTest::keyClick(window, Qt::Key_Q, Qt::AltModifier);
    QTest::keyClick(window, Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(launcher_.starts.size(), 2u);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window_.isNull());
    QVERIFY(window->isVisible());
    QCOMPARE(launcher_.starts[1].argument, help);
}

void AboutWindowTest::helpThatCannotBeOpenedSaysSo() {
    launcher_.succeeds = false;
    AboutWindow* window = showWindow();
    QVERIFY(window != nullptr);
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QCOMPARE(messages_.shown.size(), 1u);
    QCOMPARE(messages_.shown[0].text, "无法打开网页：" + BundledPageAddress(info::kHelpPageFile));
    QCOMPARE(messages_.shown[0].title, std::string("错误"));
    QCOMPARE(messages_.shown[0].icon, MessageIcon::Critical);
    QVERIFY(window->isVisible());
}

QTEST_MAIN(AboutWindowTest)
#include "tst_about_window.moc"
