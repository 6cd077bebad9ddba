#pragma once

#include "interfaces/ProcessLauncher.h"

namespace quavera {

// Hands a folder or an address to the desktop's preferred application.
inline constexpr char kDesktopOpenerProgram[] = "xdg-open";

// Starts programs directly, never through a shell: blanks, quotes and "$(...)" in the argument
// reach the program as they are and run nothing.
class XdgProcessLauncher final : public ProcessLauncher {
public:
    [[nodiscard]] bool start(const std::string& program, const std::string& argument) override;
};

} // namespace quavera
