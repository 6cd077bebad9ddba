#include "ui/EventYield.h"

#include <QCoreApplication>
#include <utility>

namespace quavera {

EventYield::EventYield(Clock::duration interval, std::function<Clock::time_point()> now)
    : interval_(interval), now_(std::move(now)) {}

bool EventYield::operator()() {
    if (lastTurnEnd_) {
        // Reading the clock costs a few percent of a block; a few blocks between readings
        // delay a turn by microseconds.
        if (++callsSinceClockRead_ < kCallsPerClockRead) {
            return false;
        }
        callsSinceClockRead_ = 0;
        if (now_() - *lastTurnEnd_ < interval_) {
            return false;
        }
    }
    QCoreApplication::processEvents();
    callsSinceClockRead_ = 0;
    // Counted from the end of the turn: a turn that takes longer than the interval (a repaint)
    // still leaves the work its share of time before the next one.
    lastTurnEnd_ = now_();
    return true;
}

} // namespace quavera
