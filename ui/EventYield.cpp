#include "ui/EventYield.h"

#include <QCoreApplication>
#include <utility>

namespace quavera {

EventYield::EventYield(Clock::duration interval, std::function<Clock::time_point()> now)
    : interval_(interval), now_(std::move(now)) {}

bool EventYield::operator()() {
    if (lastTurnEnd_ && now_() - *lastTurnEnd_ < interval_) {
        return false;
    }
    QCoreApplication::processEvents();
    // Counted from the end of the turn: a turn that takes longer than the interval (a repaint)
    // still leaves the work its share of time before the next one.
    lastTurnEnd_ = now_();
    return true;
}

} // namespace quavera
