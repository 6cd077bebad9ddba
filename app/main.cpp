// Quavera: cuts a piece out of an MP3 file to make a ringtone.
#include "app/Program.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    quavera::PrepareProcessEnvironment();
    QApplication application(argc, argv);
    quavera::Program program;
    program.window().show();
    return QApplication::exec();
}
