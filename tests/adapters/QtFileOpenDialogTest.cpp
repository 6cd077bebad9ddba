#include "adapters/QtFileOpenDialog.h"

#include "ModalDriver.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace quavera;
using quavera::testing::confirmPathIn;
using quavera::testing::whenModalAppears;

namespace {

struct SeenDialog {
    QString title;
    QStringList nameFilters;
    QStringList preselected;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    bool qtOwnDialog = false;
    bool modal = false;
    QWidget* parent = nullptr;
};

SeenDialog describe(QFileDialog* dialog) {
    SeenDialog seen;
    seen.title = dialog->windowTitle();
    seen.nameFilters = dialog->nameFilters();
    seen.preselected = dialog->selectedFiles();
    seen.fileMode = dialog->fileMode();
    seen.qtOwnDialog = dialog->testOption(QFileDialog::DontUseNativeDialog);
    seen.modal = dialog->isModal();
    seen.parent = dialog->parentWidget();
    return seen;
}

} // namespace

class QtFileOpenDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        songPath_ = folder_->filePath(QStringLiteral("我的 歌 (1).mp3"));
        QFile song(songPath_);
        QVERIFY(song.open(QIODevice::WriteOnly));
    }

    void filterBecomesQtNameFilters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("nameFilters");
        QTest::newRow("program's filter")
            << "MP3音频文件|*.mp3" << QStringList{QStringLiteral("MP3音频文件 (*.mp3)")};
        QTest::newRow("two entries, two patterns")
            << "Audio|*.mp3;*.wav|All|*.*" << QStringList{"Audio (*.mp3 *.wav)", "All (*.*)"};
        QTest::newRow("empty") << "" << QStringList();
        QTest::newRow("description without pattern") << "Lonely" << QStringList();
        QTest::newRow("unpaired last description") << "A|*.a|B" << QStringList{"A (*.a)"};
    }
    void filterBecomesQtNameFilters() {
        QFETCH(QString, filter);
        QFETCH(QStringList, nameFilters);
        QCOMPARE(toQtNameFilters(filter.toStdString()), nameFilters);
    }

    void confirmedFileIsReturned() {
        QWidget owner;
        owner.show();
        QtFileOpenDialog dialog(&owner);
        dialog.setFilter("MP3音频文件|*.mp3");
        SeenDialog seen;
        whenModalAppears<QFileDialog>([&](QFileDialog* shown) {
            seen = describe(shown);
            confirmPathIn(shown, songPath_);
        });
        QCOMPARE(dialog.showOpen(), std::optional(songPath_.toStdString()));

        QCOMPARE(seen.title, QStringLiteral("打开"));
        QCOMPARE(seen.nameFilters, QStringList{QStringLiteral("MP3音频文件 (*.mp3)")});
        QCOMPARE(seen.fileMode, QFileDialog::ExistingFile);
        QVERIFY(seen.qtOwnDialog);
        QVERIFY(seen.modal);
        QCOMPARE(seen.parent, &owner);
    }

    void cancelReturnsNothing_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Escape key") << true;
        QTest::newRow("Cancel button") << false;
    }
    void cancelReturnsNothing() {
        QFETCH(bool, byEscape);
        QtFileOpenDialog dialog;
        whenModalAppears<QFileDialog>([&](QFileDialog* shown) {
            shown->selectFile(songPath_);
            if (byEscape) {
                QTest::keyClick(shown, Qt::Key_Escape);
            } else {
                auto* buttons = shown->findChild<QDialogButtonBox*>();
                QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
            }
        });
        QCOMPARE(dialog.showOpen(), std::nullopt);
    }

    void nextDialogStartsAtTheLastConfirmedFile() {
        QtFileOpenDialog dialog;
        whenModalAppears<QFileDialog>([&](QFileDialog* shown) { confirmPathIn(shown, songPath_); });
        QVERIFY(dialog.showOpen().has_value());

        QStringList preselected;
        QString directory;
        whenModalAppears<QFileDialog>([&](QFileDialog* shown) {
            preselected = shown->selectedFiles();
            directory = shown->directory().absolutePath();
            shown->reject();
        });
        QCOMPARE(dialog.showOpen(), std::nullopt);
        QCOMPARE(preselected, QStringList{songPath_});
        QCOMPARE(directory, folder_->path());
    }

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString songPath_;
};

QTEST_MAIN(QtFileOpenDialogTest)
#include "QtFileOpenDialogTest.moc"
