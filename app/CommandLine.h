#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quavera {

// Said when the command line names an address that is no local file (https://…, smb://…).
inline constexpr char kRemoteAddressText[] = "只能剪切本机上的文件，无法打开此网址：\n";

// What the command line asks of the program.
struct CommandLineRequest {
    // Set when the program ends at once (help, version, a refused line) with this exit code.
    std::optional<int> exitCode;
    // The file to load once the main window shows, as an absolute path; empty for none.
    QString file;
    // An address given instead of a file, refused with a message once the main window shows.
    QString remoteAddress;
};

// Reads the arguments (the program's name first). Qt's own options (-style, -platform, -reverse
// and the like) are left to QApplication, which reads them from the same arguments. A file://
// address stands for the file it names. Prints help and version on standard output; refuses
// what it does not know with the usage on standard error and exit code 2. Needs no application
// object, so that --help works without a display; IdentifyProgram comes first.
[[nodiscard]] CommandLineRequest ReadCommandLine(const QStringList& arguments);

} // namespace quavera
