#pragma once

#include "Journal.h"
#include "interfaces/MediaPlayer.h"

#include <optional>
#include <string>

namespace quavera::testing {

// A player whose medium, length and position the test sets. Like the real one it reports no
// length or position while no file is loaded, and loading a file starts playback.
class FakePlayer : public MediaPlayer {
public:
    explicit FakePlayer(Journal* journal = nullptr) : journal_(journal) {}

    bool setURL(const std::string& path) override {
        Note(journal_, "player:setURL:" + path);
        url_ = path;
        playing = !path.empty();
        return true;
    }
    [[nodiscard]] std::string URL() const override { return url_; }
    [[nodiscard]] std::optional<double> duration() const override {
        return url_.empty() ? std::nullopt : mediaDuration;
    }
    [[nodiscard]] std::optional<double> currentPosition() const override {
        return url_.empty() ? std::nullopt : position;
    }
    bool pause() override {
        Note(journal_, "player:pause");
        ++pauseCalls;
        if (pauseFails || url_.empty())
            return false;
        playing = false;
        return true;
    }

    // Loads a medium of `seconds` and places the playback position.
    void load(const std::string& path, double seconds, double at = 0.0) {
        setURL(path);
        mediaDuration = seconds;
        position = at;
    }

    std::optional<double> mediaDuration; // nothing: the player cannot tell the length
    std::optional<double> position;      // nothing: the player cannot tell the position
    bool playing = false;
    bool pauseFails = false;
    int pauseCalls = 0;

private:
    Journal* journal_;
    std::string url_;
};

} // namespace quavera::testing
