#pragma once

#include "interfaces/MessageBoxes.h"
#include "interfaces/ProcessLauncher.h"
#include "ui/PlayerView.h"

#include <QStringList>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quavera::testing {

// What happened to the players and files of one test, in order.
using EventLog = QStringList;

// A player that plays nothing and records what it is told. When it is given a file it notes
// whether that file exists; when it lets go of a file it notes whether the file still exists.
class RecordingPlayerView : public PlayerView {
public:
    RecordingPlayerView(QWidget* parent, EventLog& log) : PlayerView(parent), log_(log) {}
    ~RecordingPlayerView() override { log_.push_back("player destroyed"); }

    bool setURL(const std::string& path) override {
        if (path.empty()) {
            const bool held = !url_.empty() && std::filesystem::exists(url_);
            log_.push_back(held ? "released existing file" : "released nothing");
        } else {
            log_.push_back("playing " + QString::fromStdString(path));
        }
        url_ = path;
        return true;
    }
    [[nodiscard]] std::string URL() const override { return url_; }
    [[nodiscard]] std::optional<double> duration() const override { return std::nullopt; }
    [[nodiscard]] std::optional<double> currentPosition() const override { return std::nullopt; }
    bool pause() override { return true; }

private:
    EventLog& log_;
    std::string url_;
};

// Makes RecordingPlayerViews that write into one log, and remembers the last one.
struct RecordingPlayerFactory {
    EventLog log;
    RecordingPlayerView* last = nullptr;

    PlayerFactory factory() {
        return [this](QWidget* parent) {
            last = new RecordingPlayerView(parent, log);
            return last;
        };
    }
};

struct LaunchRecord {
    std::string program;
    std::string argument;
};

// Records every start; `succeeds` decides what start() reports.
class RecordingLauncher : public ProcessLauncher {
public:
    bool succeeds = true;
    std::vector<LaunchRecord> starts;

    bool start(const std::string& program, const std::string& argument) override {
        starts.push_back({program, argument});
        return succeeds;
    }
};

struct ShownMessage {
    std::string text;
    std::string title;
    MessageIcon icon;
    MessageButtons buttons;
};

// Records every message box and answers it with `answer`.
class AnsweringMessageBoxes : public MessageBoxes {
public:
    MessageAnswer answer = MessageAnswer::Ok;
    std::vector<ShownMessage> shown;

    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        shown.push_back({text, title, icon, buttons});
        return answer;
    }
};

} // namespace quavera::testing
