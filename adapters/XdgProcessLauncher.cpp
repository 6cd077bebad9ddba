#include "adapters/XdgProcessLauncher.h"

#include <QProcess>
#include <QString>

namespace quavera {

bool XdgProcessLauncher::start(const std::string& program, const std::string& argument) {
    return QProcess::startDetached(QString::fromStdString(program),
                                   {QString::fromStdString(argument)});
}

} // namespace quavera
