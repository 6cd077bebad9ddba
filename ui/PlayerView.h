#pragma once

#include "interfaces/MediaPlayer.h"

#include <QWidget>
#include <functional>
#include <optional>

namespace quavera {

// A media player with its own on-screen controls, embeddable in a window.
class PlayerView : public QWidget, public MediaPlayer {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The start and end marks to show over the medium, in seconds; no value: that mark is not
    // shown. A player that draws no marks ignores them.
    virtual void showMarks(std::optional<double> startSeconds, std::optional<double> endSeconds) {
        static_cast<void>(startSeconds);
        static_cast<void>(endSeconds);
    }
    // While held, the player does no work of its own beyond playing (a cut is running and
    // should have the machine); released, it carries on where it stopped.
    virtual void holdBackgroundWork(bool hold) { static_cast<void>(hold); }
};

// Makes the player a window embeds; tests hand the windows a fake.
using PlayerFactory = std::function<PlayerView*(QWidget* parent)>;

} // namespace quavera
