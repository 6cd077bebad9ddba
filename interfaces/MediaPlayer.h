#pragma once

#include <optional>
#include <string>

namespace quavera {

// The embedded player as the commands use it. Times are seconds from the start of the medium.
// A call that fails returns false or no value, so the calling command can skip that step.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;

    // Loads the file and starts playing it at once; empty text stops and releases the file.
    virtual bool setURL(const std::string& path) = 0;
    // The path last given to setURL; empty text means no file is loaded.
    [[nodiscard]] virtual std::string URL() const = 0;
    [[nodiscard]] virtual std::optional<double> duration() const = 0;
    [[nodiscard]] virtual std::optional<double> currentPosition() const = 0;
    virtual bool pause() = 0;
};

} // namespace quavera
