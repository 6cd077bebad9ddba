// Quavera: cuts a piece out of an MP3 file to make a ringtone.
#include "core/CutState.h"
#include "platform/common/RegistryStrings.h"
#include "platform/qt/FileKeyValueStore.h"
#include "platform/qt/QtFileOpenDialog.h"
#include "platform/qt/QtFolderPicker.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/QtPlayerView.h"
#include "platform/qt/XdgProcessLauncher.h"
#include "ui/DesktopActions.h"
#include "ui/MainServices.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTranslator>

using namespace quavera;

int main(int argc, char* argv[]) {
    // The player decodes through GStreamer, which plays MP3 with the Debian packages we need and
    // keeps its clock running without a sound device.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavera"));
    QApplication::setWindowIcon(ProgramIcon());

    // Standard buttons of the message boxes and dialogs read 确定 and 取消, like every other text.
    QTranslator qtTranslation;
    if (qtTranslation.load(QStringLiteral("qtbase_zh_CN"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslation);
    }

    QtMessageBoxes messages;
    QtFileOpenDialog openDialog;
    QtFolderPicker folderPicker;
    XdgProcessLauncher launcher;
    FileKeyValueStore store(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    RegistryStrings registry(store);
    ProgramState program;

    const MainServices services{messages,
                                openDialog,
                                folderPicker,
                                launcher,
                                [&registry, &messages] { RunFirstRunOffer(registry, messages); },
                                makeQtPlayerFactory(),
                                program};
    // Closing the main window unloads it: its player stops, and a preview window that stays
    // open reads an empty destination from then on.
    auto* window = new MainWindow(services);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The first-run question came before the window existed; every later box and dialog
    // belongs to it.
    messages.setOwner(window);
    openDialog.setOwner(window);
    folderPicker.setOwner(window);
    window->show();
    return QApplication::exec();
}
