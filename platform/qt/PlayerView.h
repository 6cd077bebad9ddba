#pragma once

#include "platform/api/MediaPlayer.h"

#include <QWidget>
#include <functional>

namespace quavera {

// A media player with its own on-screen controls, embeddable in a window.
class PlayerView : public QWidget, public MediaPlayer {
    Q_OBJECT
public:
    using QWidget::QWidget;
};

// Makes the player a window embeds; tests hand the windows a fake.
using PlayerFactory = std::function<PlayerView*(QWidget* parent)>;

} // namespace quavera
