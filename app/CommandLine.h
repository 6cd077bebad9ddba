#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quavera {

// What the command line asks of the program.
struct CommandLineRequest {
    // Set when the program ends at once (help, version, a refused line) with this exit code.
    std::optional<int> exitCode;
    // The file to load once the main window shows, as an absolute path; empty for none.
    QString file;
};

// Reads the arguments (the program's name first). Prints help and version on standard output;
// refuses what it does not know with the usage on standard error and exit code 2. Needs no
// application object, so that --help works without a display; IdentifyProgram comes first.
[[nodiscard]] CommandLineRequest ReadCommandLine(const QStringList& arguments);

} // namespace quavera
