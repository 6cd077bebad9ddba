#include "adapters/PlayerControls.h"

#include "adapters/WaveformView.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QStringList>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace quavera {

namespace {

constexpr qint64 kMillisecondsPerSecond = 1000;
constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 3600;
constexpr qint64 kMillisecondsPerTenth = 100;
constexpr qint64 kTenthsPerSecond = 10;
constexpr qint64 kFineStepMs = 100;
constexpr qint64 kCoarseStepMs = 5000;
constexpr double kZoomStep = 2.0;
// While playing, the clock changes ten times a second; a screen reader hears of it at most this
// often.
constexpr int kDescribeIntervalMs = 400;

// The icon theme's media icons, or the style's where the theme has none, drawn in the
// palette's text colour: themes draw them as mid-grey symbols (2.4:1 on GNOME's light window),
// while the text colour reads on its window at 4.5:1 or more, light themes and dark alike.
QIcon mediaIcon(const QWidget& widget, const char* themeName, QStyle::StandardPixmap fallback) {
    const QIcon shape =
        QIcon::fromTheme(QLatin1String(themeName), widget.style()->standardIcon(fallback));
    const QColor ink = widget.palette().color(QPalette::WindowText);
    QIcon drawn;
    for (const int size : {16, 22, 24, 32, 48}) {
        QPixmap pixmap = shape.pixmap(QSize(size, size), widget.devicePixelRatioF());
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRect(QPoint(0, 0), pixmap.deviceIndependentSize().toSize()), ink);
        painter.end();
        drawn.addPixmap(pixmap);
    }
    return drawn;
}

// "mm:ss.t", or "h:mm:ss.t" once the medium is an hour long. Tenths are cut, not rounded, so
// the time never runs ahead of what plays.
QString formatClock(qint64 milliseconds, bool withHours) {
    const qint64 tenths = std::max<qint64>(milliseconds, 0) / kMillisecondsPerTenth;
    const qint64 totalSeconds = tenths / kTenthsPerSecond;
    const QString seconds = QStringLiteral("%1.%2")
                                .arg(totalSeconds % kSecondsPerMinute, 2, 10, QLatin1Char('0'))
                                .arg(tenths % kTenthsPerSecond);
    if (withHours) {
        return QStringLiteral("%1:%2:%3")
            .arg(totalSeconds / kSecondsPerHour)
            .arg((totalSeconds % kSecondsPerHour) / kSecondsPerMinute, 2, 10, QLatin1Char('0'))
            .arg(seconds);
    }
    return QStringLiteral("%1:%2")
        .arg(totalSeconds / kSecondsPerMinute, 2, 10, QLatin1Char('0'))
        .arg(seconds);
}

double toSeconds(qint64 milliseconds) {
    return static_cast<double>(milliseconds) / static_cast<double>(kMillisecondsPerSecond);
}

qint64 toMilliseconds(double seconds) {
    return std::llround(seconds * kMillisecondsPerSecond);
}

// The seek slider as a screen reader finds it: its value is the playing time in seconds, and
// its value text the time as the clock shows it ("01:05.3"), not a bare count of milliseconds.
class SeekSliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SeekSliderAccessible(QSlider* slider)
        : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return formatClock(slider()->value(),
                               slider()->maximum() >= kSecondsPerHour * kMillisecondsPerSecond);
        }
        return QAccessibleWidget::text(kind);
    }
    [[nodiscard]] QVariant currentValue() const override { return toSeconds(slider()->value()); }
    void setCurrentValue(const QVariant& seconds) override {
        // As if the user had moved the handle: the player follows.
        slider()->setSliderPosition(static_cast<int>(toMilliseconds(seconds.toDouble())));
        slider()->triggerAction(QAbstractSlider::SliderMove);
    }
    [[nodiscard]] QVariant maximumValue() const override { return toSeconds(slider()->maximum()); }
    [[nodiscard]] QVariant minimumValue() const override { return toSeconds(slider()->minimum()); }
    [[nodiscard]] QVariant minimumStepSize() const override {
        return toSeconds(slider()->singleStep());
    }

private:
    [[nodiscard]] QSlider* slider() const { return static_cast<QSlider*>(widget()); }
};

QAccessibleInterface* seekSliderAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("QSlider") &&
        object->objectName() == QLatin1String("seekSlider") &&
        qobject_cast<PlayerControls*>(object->parent()) != nullptr) {
        return new SeekSliderAccessible(static_cast<QSlider*>(object));
    }
    return nullptr;
}

QToolButton* makeControlButton(QWidget* parent, const QString& objectName, const char* themeIcon,
                               QStyle::StandardPixmap icon, const QString& toolTip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setIcon(mediaIcon(*parent, themeIcon, icon));
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    return button;
}

} // namespace

PlayerControls::PlayerControls(QWidget* parent)
    : QWidget(parent), screen_(new WaveformView(this)),
      seekSlider_(new QSlider(Qt::Horizontal, this)),
      playPauseButton_(makeControlButton(this, QStringLiteral("playPauseButton"),
                                         "media-playback-start", QStyle::SP_MediaPlay,
                                         QStringLiteral("播放"))),
      stopButton_(makeControlButton(this, QStringLiteral("stopButton"), "media-playback-stop",
                                    QStyle::SP_MediaStop, QStringLiteral("停止"))),
      timeLabel_(new QLabel(this)), describeTimer_(new QTimer(this)) {
    // The screen above the controls shows the sound and names the file, or says it cannot play.
    screen_->setObjectName(QStringLiteral("screen"));
    screen_->setFocusPolicy(Qt::StrongFocus); // Tab reaches it: a screen reader reads it there
    screen_->setAccessibleName(QStringLiteral("波形"));
    describeTimer_->setSingleShot(true);
    describeTimer_->setInterval(kDescribeIntervalMs);
    connect(describeTimer_, &QTimer::timeout, this, &PlayerControls::describeScreen);

    static const bool sliderReadsTime = [] {
        QAccessible::installFactory(&seekSliderAccessible);
        return true;
    }();
    static_cast<void>(sliderReadsTime);
    seekSlider_->setObjectName(QStringLiteral("seekSlider"));
    seekSlider_->setAccessibleName(QStringLiteral("播放进度"));
    seekSlider_->setRange(0, 0);
    seekSlider_->setSingleStep(static_cast<int>(kFineStepMs));
    seekSlider_->setPageStep(static_cast<int>(kCoarseStepMs));

    timeLabel_->setObjectName(QStringLiteral("timeLabel"));
    showTime();
    describeScreen();

    // One row of controls leaves the screen the rest of the height: in the main window the
    // player is only 93 pixels high.
    auto* controlsRow = new QHBoxLayout;
    controlsRow->setContentsMargins(0, 0, 0, 0);
    controlsRow->setSpacing(2);
    controlsRow->addWidget(playPauseButton_);
    controlsRow->addWidget(stopButton_);
    controlsRow->addWidget(seekSlider_, 1);
    controlsRow->addWidget(timeLabel_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    column->addWidget(screen_, 1);
    column->addLayout(controlsRow);

    // Tab goes as the eye does: the screen, then the controls below it from left to right.
    setTabOrder(screen_, playPauseButton_);
    setTabOrder(playPauseButton_, stopButton_);
    setTabOrder(stopButton_, seekSlider_);

    connect(playPauseButton_, &QToolButton::clicked, this, &PlayerControls::playPauseRequested);
    connect(stopButton_, &QToolButton::clicked, this, &PlayerControls::stopRequested);
    // Dragging, clicking the groove and the keys all end up here; the slider already shows the
    // new place when this runs.
    connect(seekSlider_, &QSlider::actionTriggered, this,
            [this](int) { emit seekRequested(seekSlider_->sliderPosition()); });
    connect(screen_, &WaveformView::seekRequested, this,
            [this](double seconds) { emit seekRequested(toMilliseconds(seconds)); });
    connect(screen_, &WaveformView::shownChanged, this, [this] {
        describeScreen();
        emit shownChanged();
    });

    for (QWidget* control :
         {static_cast<QWidget*>(playPauseButton_), static_cast<QWidget*>(stopButton_),
          static_cast<QWidget*>(seekSlider_), static_cast<QWidget*>(screen_)}) {
        control->installEventFilter(this);
    }
}

void PlayerControls::setPlaying(bool playing) {
    playPauseButton_->setIcon(playing
                                  ? mediaIcon(*this, "media-playback-pause", QStyle::SP_MediaPause)
                                  : mediaIcon(*this, "media-playback-start", QStyle::SP_MediaPlay));
    const QString action = playing ? QStringLiteral("暂停") : QStringLiteral("播放");
    playPauseButton_->setToolTip(action);
    playPauseButton_->setAccessibleName(action);
}

void PlayerControls::setPosition(qint64 milliseconds) {
    positionMs_ = milliseconds;
    // While the user holds the handle, the handle shows where the user is going.
    if (!seekSlider_->isSliderDown()) {
        seekSlider_->setValue(
            static_cast<int>(std::min<qint64>(milliseconds, seekSlider_->maximum())));
    }
    showTime();
    showScene();
}

void PlayerControls::setDuration(qint64 milliseconds) {
    durationMs_ = milliseconds;
    seekSlider_->setRange(
        0, static_cast<int>(std::clamp<qint64>(milliseconds, 0, std::numeric_limits<int>::max())));
    showTime();
    showScene();
}

void PlayerControls::setCaption(const QString& caption) {
    caption_ = caption;
    showScene();
}

void PlayerControls::setMediaUsable(bool usable) {
    usable_ = usable;
    showScene();
}

void PlayerControls::setOutline(const WaveformPeaks* peaks) {
    outline_ = peaks;
    showScene();
}

void PlayerControls::setMarks(std::optional<double> startSeconds,
                              std::optional<double> endSeconds) {
    startMark_ = startSeconds;
    endMark_ = endSeconds;
    showScene();
}

void PlayerControls::setDetail(const WaveformPeaks* peaks) {
    detail_ = peaks;
    showScene();
}

void PlayerControls::showWholeMedium() {
    screen_->showWhole();
}

double PlayerControls::shownFromSeconds() const {
    return screen_->zoomed() ? screen_->scene().shownFromSeconds : 0.0;
}

double PlayerControls::shownToSeconds() const {
    return screen_->zoomed() ? screen_->scene().shownToSeconds : screen_->scene().durationSeconds;
}

int PlayerControls::shownColumns() const {
    return screen_->deviceColumns();
}

bool PlayerControls::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        handleControlKey(watched, *static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool PlayerControls::handleZoomKey(const QKeyEvent& key) {
    // + is a shifted key on many layouts, and the keypad has its own.
    if ((key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != Qt::NoModifier) {
        return false;
    }
    switch (key.key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        screen_->zoomAtPlayhead(kZoomStep);
        return true;
    case Qt::Key_Minus:
        screen_->zoomAtPlayhead(1 / kZoomStep);
        return true;
    case Qt::Key_0:
        screen_->showWhole();
        return true;
    default:
        return false;
    }
}

bool PlayerControls::handleControlKey(QObject* control, const QKeyEvent& key) {
    if (handleZoomKey(key)) {
        return true;
    }
    const bool enter = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
    if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        // Enter belongs to the focused control even with a modifier: passed on, it would reach
        // the window and its default button.
        return enter;
    }
    if (enter) {
        // A button does its own action; the slider and the screen have none.
        if (control == playPauseButton_) {
            emit playPauseRequested();
        } else if (control == stopButton_) {
            emit stopRequested();
        }
        return true;
    }
    switch (key.key()) {
    case Qt::Key_Space:
        emit playPauseRequested();
        return true;
    case Qt::Key_Left:
        emit stepRequested(-kFineStepMs);
        return true;
    case Qt::Key_Right:
        emit stepRequested(kFineStepMs);
        return true;
    case Qt::Key_PageUp:
        emit stepRequested(kCoarseStepMs);
        return true;
    case Qt::Key_PageDown:
        emit stepRequested(-kCoarseStepMs);
        return true;
    case Qt::Key_Home:
        emit seekRequested(0);
        return true;
    default:
        return false;
    }
}

void PlayerControls::showScene() {
    WaveformScene scene;
    scene.peaks = usable_ ? outline_ : nullptr;
    scene.detail = usable_ ? detail_ : nullptr;
    scene.durationSeconds = usable_ ? toSeconds(durationMs_) : 0.0;
    if (usable_) {
        scene.playheadSeconds = toSeconds(positionMs_);
        scene.startSeconds = startMark_;
        scene.endSeconds = endMark_;
    }
    scene.caption = caption_;
    screen_->setScene(scene);
    describeScreen();
}

void PlayerControls::showTime() {
    const bool withHours = clockWithHours();
    // At the end the pipeline may stand a little past the length it reported.
    const qint64 positionMs = std::min(positionMs_, std::max<qint64>(durationMs_, 0));
    timeLabel_->setText(formatClock(positionMs, withHours) + QStringLiteral(" / ") +
                        formatClock(durationMs_, withHours));
}

bool PlayerControls::clockWithHours() const {
    return durationMs_ >= kSecondsPerHour * kMillisecondsPerSecond;
}

QString PlayerControls::screenDescription() const {
    // What the screen shows, in words: the clock as it reads, the marks in the same form, the
    // part shown when zoomed, and the file's name or why it cannot play.
    QStringList parts{timeLabel_->text()};
    if (usable_) {
        const bool withHours = clockWithHours();
        if (startMark_) {
            parts << QStringLiteral("开始 ") + formatClock(toMilliseconds(*startMark_), withHours);
        }
        if (endMark_) {
            parts << QStringLiteral("结束 ") + formatClock(toMilliseconds(*endMark_), withHours);
        }
        if (screen_->zoomed()) {
            parts << QStringLiteral("显示 ") +
                         formatClock(toMilliseconds(shownFromSeconds()), withHours) +
                         QStringLiteral("–") +
                         formatClock(toMilliseconds(shownToSeconds()), withHours);
        }
    }
    if (!caption_.isEmpty()) {
        parts << caption_;
    }
    return parts.join(QStringLiteral("，"));
}

void PlayerControls::describeScreen() {
    // A change while the timer runs is told when it runs out, so the reader always ends up
    // with the latest state, without an update on every tenth of a second.
    if (describeTimer_->isActive()) {
        return;
    }
    const QString description = screenDescription();
    if (description != screen_->accessibleDescription()) {
        // QWidget sends the accessibility event (DescriptionChanged) itself.
        screen_->setAccessibleDescription(description);
        describeTimer_->start();
    }
}

} // namespace quavera
