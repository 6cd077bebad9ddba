#include "app/Program.h"

#include "adapters/QtPlayerView.h"
#include "core/ProgramInfo.h"
#include "ui/DesktopActions.h"
#include "ui/MainServices.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QStandardPaths>

namespace quavera {

void IdentifyProgram() {
    // The name also names the configuration folder, ~/.config/Quavera, and the X window class.
    QApplication::setApplicationName(QString::fromUtf8(info::kProgramTitle));
    QApplication::setApplicationVersion(QString::fromUtf8(info::kVersion));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(info::kDesktopEntryName));
}

void PrepareProcessEnvironment() {
    // The player decodes through GStreamer, which plays MP3 with the Debian packages we need and
    // keeps its clock running without a sound device.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    }
}

Program::Program()
    : store_(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)),
      registry_(store_) {
    QApplication::setWindowIcon(ProgramIcon());

    // Standard buttons of the message boxes and dialogs read 确定 and 取消, like every other text.
    if (qtTranslation_.load(QStringLiteral("qtbase_zh_CN"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslation_);
    }

    const MainServices services{messages_,
                                openDialog_,
                                folderPicker_,
                                launcher_,
                                [this] { RunFirstRunOffer(registry_, messages_); },
                                makeQtPlayerFactory(),
                                state_};
    window_ = new MainWindow(services);
    window_->setAttribute(Qt::WA_DeleteOnClose);
    // The first-run question came before the window existed; every later box and dialog
    // belongs to it.
    messages_.setOwner(window_);
    openDialog_.setOwner(window_);
    folderPicker_.setOwner(window_);
}

Program::~Program() {
    delete window_; // still open when the event loop ended some other way
}

} // namespace quavera
