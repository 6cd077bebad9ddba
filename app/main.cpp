// Quavera: cuts a piece out of an MP3 file to make a ringtone.
#include "app/CommandLine.h"
#include "app/Program.h"
#include "core/ProgramInfo.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>

int main(int argc, char* argv[]) {
    quavera::IdentifyProgram();
    // Read before the application object exists, which would need a display even for --help.
    QStringList arguments;
    for (int index = 0; index < argc; ++index) {
        arguments.append(QString::fromLocal8Bit(argv[index]));
    }
    const quavera::CommandLineRequest request = quavera::ReadCommandLine(arguments);
    if (request.exitCode) {
        return *request.exitCode;
    }

    quavera::PrepareProcessEnvironment();
    QApplication application(argc, argv);
    quavera::Program program; // asks the first-run question, if it is due
    program.window().show();
    if (!request.remoteAddress.isEmpty()) {
        // Told in the window, like every other refusal: a desktop start has no terminal.
        QTimer::singleShot(0, &program.window(), [&program, address = request.remoteAddress] {
            program.messages().show(quavera::kRemoteAddressText + address.toStdString(),
                                    quavera::info::kErrorTitle, quavera::MessageIcon::Critical,
                                    quavera::MessageButtons::Ok);
        });
    } else if (!request.file.isEmpty()) {
        // Loaded from the event loop, with the window on screen, as a choice with 浏览 would be.
        QTimer::singleShot(0, &program.window(), [&program, file = request.file.toStdString()] {
            program.window().openSource(file);
        });
    }
    return QApplication::exec();
}
