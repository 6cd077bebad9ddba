#include "adapters/QtMessageBoxes.h"

#include "ModalDriver.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace quavera;
using quavera::testing::whenModalAppears;

Q_DECLARE_METATYPE(MessageIcon)
Q_DECLARE_METATYPE(MessageButtons)
Q_DECLARE_METATYPE(MessageAnswer)

namespace {

// What the box looked like while it was open.
struct SeenBox {
    QString title;
    QString text;
    Qt::TextFormat textFormat = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool okIsDefault = false;
    bool modal = false;
    QWidget* parent = nullptr;
};

enum class UserAction { ClickOk, ClickCancel, PressEnter, PressEscape, CloseWindow };

void perform(QMessageBox* box, UserAction action) {
    switch (action) {
    case UserAction::ClickOk:
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        break;
    case UserAction::ClickCancel:
        QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
        break;
    case UserAction::PressEnter:
        QTest::keyClick(box, Qt::Key_Return);
        break;
    case UserAction::PressEscape:
        QTest::keyClick(box, Qt::Key_Escape);
        break;
    case UserAction::CloseWindow:
        box->close();
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(UserAction)

class QtMessageBoxesTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheBoxAndReportsTheAnswer_data() {
        QTest::addColumn<MessageIcon>("icon");
        QTest::addColumn<MessageButtons>("buttons");
        QTest::addColumn<UserAction>("action");
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<int>("expectedIcon");

        const auto none = MessageIcon::None;
        const auto okCancel = MessageButtons::OkCancel;
        const auto ok = MessageButtons::Ok;
        QTest::newRow("OK clicked") << none << okCancel << UserAction::ClickOk << MessageAnswer::Ok
                                    << int(QMessageBox::NoIcon);
        QTest::newRow("Cancel clicked") << none << okCancel << UserAction::ClickCancel
                                        << MessageAnswer::Cancel << int(QMessageBox::NoIcon);
        QTest::newRow("Enter takes the default") << none << okCancel << UserAction::PressEnter
                                                 << MessageAnswer::Ok << int(QMessageBox::NoIcon);
        QTest::newRow("Escape cancels") << none << okCancel << UserAction::PressEscape
                                        << MessageAnswer::Cancel << int(QMessageBox::NoIcon);
        QTest::newRow("closing cancels") << none << okCancel << UserAction::CloseWindow
                                         << MessageAnswer::Cancel << int(QMessageBox::NoIcon);
        QTest::newRow("critical, OK") << MessageIcon::Critical << ok << UserAction::ClickOk
                                      << MessageAnswer::Ok << int(QMessageBox::Critical);
        QTest::newRow("warning, closed") << MessageIcon::Warning << ok << UserAction::CloseWindow
                                         << MessageAnswer::Ok << int(QMessageBox::Warning);
        QTest::newRow("information, Escape")
            << MessageIcon::Information << ok << UserAction::PressEscape << MessageAnswer::Ok
            << int(QMessageBox::Information);
    }
    void showsTheBoxAndReportsTheAnswer() {
        QFETCH(MessageIcon, icon);
        QFETCH(MessageButtons, buttons);
        QFETCH(UserAction, action);
        QFETCH(MessageAnswer, answer);
        QFETCH(int, expectedIcon);

        QWidget owner;
        owner.show();
        QtMessageBoxes boxes(&owner);
        SeenBox seen;
        whenModalAppears<QMessageBox>([&seen, action](QMessageBox* box) {
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.textFormat = box->textFormat();
            seen.icon = box->icon();
            seen.buttons = box->standardButtons();
            seen.okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok);
            seen.modal = box->isModal();
            seen.parent = box->parentWidget();
            perform(box, action);
        });
        const std::string text = "剪切完成，请试听！ <b>a & b</b>";
        QCOMPARE(boxes.show(text, "提示", icon, buttons), answer);

        QCOMPARE(seen.title, QStringLiteral("提示"));
        QCOMPARE(seen.text, QString::fromStdString(text));
        QCOMPARE(seen.textFormat, Qt::PlainText);
        QCOMPARE(int(seen.icon), expectedIcon);
        const QMessageBox::StandardButtons expectedButtons =
            buttons == MessageButtons::Ok ? QMessageBox::Ok : QMessageBox::Ok | QMessageBox::Cancel;
        QCOMPARE(seen.buttons, expectedButtons);
        QVERIFY(seen.okIsDefault);
        QVERIFY(seen.modal);
        QCOMPARE(seen.parent, &owner);
    }

    void ownerThatWentAwayLeavesTheBoxWithoutOne() {
        auto* owner = new QWidget;
        QtMessageBoxes boxes(owner);
        delete owner;
        QWidget* seenParent = reinterpret_cast<QWidget*>(1);
        whenModalAppears<QMessageBox>([&seenParent](QMessageBox* box) {
            seenParent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        });
        QCOMPARE(boxes.show("x", "y", MessageIcon::None, MessageButtons::OkCancel),
                 MessageAnswer::Ok);
        QCOMPARE(seenParent, nullptr);
    }
};

QTEST_MAIN(QtMessageBoxesTest)
#include "QtMessageBoxesTest.moc"
