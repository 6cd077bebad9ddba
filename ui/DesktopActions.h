#pragma once

#include "interfaces/MessageBoxes.h"
#include "interfaces/ProcessLauncher.h"

#include <QIcon>
#include <string>

namespace quavera {

// The program that shows a folder in the file manager or an address in the web browser.
inline constexpr char kDesktopOpener[] = "xdg-open";

// Opens a folder in the desktop's file manager (xdg-open); empty text opens the user's home folder.
// A start that fails shows a message box and returns false.
bool OpenFolder(ProcessLauncher& launcher, MessageBoxes& messages, const std::string& folderText);

// Opens an address (http or file URL) in the web browser (xdg-open); failure -> message box, false.
bool OpenAddress(ProcessLauncher& launcher, MessageBoxes& messages, const std::string& address);

// file:// address of a page shipped with the program (core/ProgramInfo.h names the files), found
// next to the executable in the build tree (<build>/share/quavera/pages) or under the install
// prefix (<prefix>/share/quavera/pages), located relative to
// QCoreApplication::applicationDirPath().
std::string BundledPageAddress(const std::string& fileName);

// The program icon: the 32x32 picture (Qt resource ":/quavera/quavera.png") and the icon
// theme's drawings of it from 16 to 256 pixels.
QIcon ProgramIcon();

} // namespace quavera
