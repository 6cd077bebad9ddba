#pragma once

#include <string>

namespace quavera {

// Starts a program without a shell, with one argument passed unchanged, and does not wait for it.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Returns false when the program could not be started.
    [[nodiscard]] virtual bool start(const std::string& program, const std::string& argument) = 0;
};

} // namespace quavera
