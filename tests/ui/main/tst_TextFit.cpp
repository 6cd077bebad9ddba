// Every text of the three windows shows whole: at Qt's default font, at the CJK desktop fonts of
// GNOME (11 pt) and KDE (10 pt), and, run again by CTest, at a scale factor of 2.
#include "MainWindowFakes.h"
#include "ui/MainWindow.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtTest>
#include <memory>

using namespace quavera;
using namespace quavera::testing;

namespace {

// What does not fit of one control's text, or nothing.
QString Clipped(QWidget* control) {
    QRect room;
    QString text;
    int flags = Qt::TextShowMnemonic;
    if (auto* label = qobject_cast<QLabel*>(control)) {
        room = label->contentsRect();
        text = label->text();
        flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        text = button->text();
        flags |= control->inherits("quavera::WrappingButton") ? Qt::TextWordWrap : 0;
    }
    if (text.isEmpty()) {
        return {};
    }
    const QSize needed = control->fontMetrics().boundingRect(room, flags, text).size();
    // Where the text lies, in the window: some boxes of the layouts reach past its edge.
    const QRect textArea = QStyle::alignedRect(control->layoutDirection(), Qt::Alignment(flags),
                                               needed.boundedTo(room.size()), room)
                               .translated(control->mapTo(control->window(), QPoint(0, 0)));
    if (needed.width() <= room.width() && needed.height() <= room.height() &&
        control->window()->rect().contains(textArea)) {
        return {};
    }
    return control->objectName() + QLatin1Char(' ') + text;
}

} // namespace

class TextFitTest : public QObject {
    Q_OBJECT

private slots:
    void everyTextShowsWhole_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("points");
        QTest::newRow("Qt's default font") << QString() << 0;
        QTest::newRow("GNOME: Noto Sans CJK SC 11 pt") << "Noto Sans CJK SC" << 11;
        QTest::newRow("KDE: Noto Sans CJK SC 10 pt") << "Noto Sans CJK SC" << 10;
    }
    void everyTextShowsWhole() {
        QFETCH(QString, family);
        QFETCH(int, points);
        const QFont before = QApplication::font();
        if (!family.isEmpty()) {
            QVERIFY2(QFontDatabase::families().contains(family), qPrintable(family));
            QApplication::setFont(QFont(family, points));
        }
        MainWindowRig rig;
        auto window = std::make_unique<MainWindow>(rig.services());
        window->show();
        // The longest texts the labels take at run time.
        window->setStatusCaption("剪切完成，请试听！");
        window->setTotalCaption(" 1200秒");
        window->setStartCaption(" 1000秒");
        window->setEndCaption(" 1100秒");
        QTest::mouseClick(window->findChild<QPushButton*>("Command2"), Qt::LeftButton);
        QTest::mouseClick(window->findChild<QPushButton*>("Command3"), Qt::LeftButton);

        QStringList clipped;
        for (const char* name : {"Frm", "FrmST", "FrmA"}) {
            QWidget* top = TopLevel(name);
            QVERIFY2(top != nullptr, name);
            for (QWidget* control : top->findChildren<QWidget*>()) {
                if (control->isVisibleTo(top)) {
                    if (const QString fault = Clipped(control); !fault.isEmpty()) {
                        clipped << QLatin1String(name) + QLatin1Char(' ') + fault;
                    }
                }
            }
        }
        window.reset();
        CloseSecondaryWindows();
        QApplication::setFont(before);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1String("; "))));
    }
};

QTEST_MAIN(TextFitTest)
#include "tst_TextFit.moc"
