#pragma once

#include "core/CutState.h"
#include "fakes/FakeMessageBoxes.h"
#include "interfaces/Dialogs.h"
#include "interfaces/MessageBoxes.h"
#include "interfaces/ProcessLauncher.h"
#include "ui/PlayerView.h"
#include "ui/MainServices.h"

#include <QApplication>
#include <QList>
#include <QPointer>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quavera::testing {

// A player that plays nothing: the test sets what it reports. Like the real one it reports no
// length or position while no file is loaded, and takes the focus as one control.
class FakeMainPlayer : public PlayerView {
    Q_OBJECT
public:
    explicit FakeMainPlayer(QWidget* parent) : PlayerView(parent) {
        setFocusPolicy(Qt::StrongFocus);
    }

    bool setURL(const std::string& path) override {
        url = path;
        urlsSet.push_back(path);
        return true;
    }
    [[nodiscard]] std::string URL() const override { return url; }
    [[nodiscard]] std::optional<double> duration() const override {
        if (onDuration) {
            onDuration();
        }
        return url.empty() ? std::nullopt : durationSeconds;
    }
    [[nodiscard]] std::optional<double> currentPosition() const override {
        return url.empty() ? std::nullopt : positionSeconds;
    }
    bool pause() override {
        ++pauses;
        return true;
    }

    std::string url;
    std::vector<std::string> urlsSet;
    std::optional<double> durationSeconds;
    std::optional<double> positionSeconds;
    int pauses = 0;
    std::function<void()> onDuration; // lets a test see when the length is read
};

// Answers each showOpen with the next scripted answer; nothing (a cancel) when none is left.
class ScriptedOpenDialog : public FileOpenDialog {
public:
    void setFilter(const std::string& newFilter) override { filter = newFilter; }
    std::optional<std::string> showOpen() override {
        ++shows;
        if (answers.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::string filter;
    std::deque<std::optional<std::string>> answers;
    int shows = 0;
};

class ScriptedFolderPicker : public FolderPicker {
public:
    std::optional<std::string> browseForFolder(const std::string& prompt) override {
        prompts.push_back(prompt);
        if (answers.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<std::string> prompts;
    std::deque<std::optional<std::string>> answers;
};

struct LaunchedProcess {
    std::string program;
    std::string argument;
};

// Records every start and reports success.
class FakeLauncher : public ProcessLauncher {
public:
    bool start(const std::string& program, const std::string& argument) override {
        started.push_back({program, argument});
        return true;
    }
    std::vector<LaunchedProcess> started;
};

// The fakes a main window is built on, and the fake players it has made (MDplay first).
// `makePlayer` may be replaced by the real player's factory.
struct MainWindowRig {
    FakeMessageBoxes messages;
    ScriptedOpenDialog openDialog;
    ScriptedFolderPicker folderPicker;
    FakeLauncher launcher;
    ProgramState program;
    int firstRunOffers = 0;
    std::function<void()> firstRunOffer = [this] { ++firstRunOffers; };
    QList<QPointer<FakeMainPlayer>> players;
    PlayerFactory makePlayer = [this](QWidget* parent) {
        auto* player = new FakeMainPlayer(parent);
        players.append(player);
        return player;
    };

    MainServices services() {
        return MainServices{
            messages,   openDialog, folderPicker, launcher, [this] { firstRunOffer(); },
            makePlayer, program};
    }
    [[nodiscard]] FakeMainPlayer& mainPlayer() const { return *players.first(); }
};

// The shown top-level window of that name, if there is one.
inline QWidget* TopLevel(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(name) && widget->isVisible()) {
            return widget;
        }
    }
    return nullptr;
}

// Closes the preview and About windows a test has opened; they delete themselves.
inline void CloseSecondaryWindows() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("FrmST") ||
            widget->objectName() == QLatin1String("FrmA")) {
            widget->close();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace quavera::testing
