#include "adapters/QtFolderPicker.h"

#include "ModalDriver.h"

#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

using namespace quavera;
using quavera::testing::confirmPathIn;
using quavera::testing::whenModalAppears;

namespace {

const std::string kPrompt = "请选择一个目录来存放分割文件：";

} // namespace

class QtFolderPickerTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
    }

    void opensAtTheTopShowingFoldersOnly() {
        QWidget owner;
        owner.show();
        QtFolderPicker picker(&owner);
        QString title;
        QString directory;
        bool dirsOnly = false;
        bool qtOwnDialog = false;
        bool modal = false;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QWidget* parent = nullptr;
        whenModalAppears<QFileDialog>([&](QFileDialog* shown) {
            title = shown->windowTitle();
            directory = shown->directory().absolutePath();
            dirsOnly = shown->testOption(QFileDialog::ShowDirsOnly);
            qtOwnDialog = shown->testOption(QFileDialog::DontUseNativeDialog);
            modal = shown->isModal();
            mode = shown->fileMode();
            parent = shown->parentWidget();
            shown->reject();
        });
        QCOMPARE(picker.browseForFolder(kPrompt), std::nullopt);

        QCOMPARE(title, QString::fromStdString(kPrompt));
        QCOMPARE(directory, QStringLiteral("/"));
        QVERIFY(dirsOnly);
        QVERIFY(qtOwnDialog);
        QVERIFY(modal);
        QCOMPARE(mode, QFileDialog::Directory);
        QCOMPARE(parent, &owner);
    }

    void confirmedFolderIsReturned_data() {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("typedSuffix");
        QTest::newRow("plain") << "out"
                               << "";
        QTest::newRow("typed with a final slash") << "out"
                                                  << "/";
        QTest::newRow("blanks, Chinese and shell characters") << "新 文件夹 $(x);'"
                                                              << "";
    }
    void confirmedFolderIsReturned() {
        QFETCH(QString, folderName);
        QFETCH(QString, typedSuffix);
        QVERIFY(QDir(folder_->path()).mkdir(folderName));
        const QString chosen = folder_->filePath(folderName);

        QtFolderPicker picker;
        whenModalAppears<QFileDialog>(
            [&](QFileDialog* shown) { confirmPathIn(shown, chosen + typedSuffix); });
        QCOMPARE(picker.browseForFolder(kPrompt), std::optional(chosen.toStdString()));
    }

    void topFolderKeepsItsSlash() {
        QtFolderPicker picker;
        whenModalAppears<QFileDialog>(
            [](QFileDialog* shown) { confirmPathIn(shown, QStringLiteral("/")); });
        QCOMPARE(picker.browseForFolder(kPrompt), std::optional(std::string("/")));
    }

    void escapeReturnsNothing() {
        QtFolderPicker picker;
        whenModalAppears<QFileDialog>(
            [](QFileDialog* shown) { QTest::keyClick(shown, Qt::Key_Escape); });
        QCOMPARE(picker.browseForFolder(kPrompt), std::nullopt);
    }

private:
    std::unique_ptr<QTemporaryDir> folder_;
};

QTEST_MAIN(QtFolderPickerTest)
#include "QtFolderPickerTest.moc"
