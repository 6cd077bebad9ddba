#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace quavera {

// Gives the event loop a turn during long work, but at most once per interval.
//
// A turn with nothing waiting still costs more than copying one block of a cut, and Qt offers
// no cheap way to ask whether anything waits, so the work calls this before every block and
// only every `interval` does it hand the loop a turn. Events then wait at most that long,
// which nobody notices at a millisecond.
class EventYield {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kDefaultInterval = std::chrono::milliseconds(1);
    // Only every this many calls does a call read the clock.
    static constexpr int kCallsPerClockRead = 8;

    // `now` is the clock read; tests pass one they move by hand.
    explicit EventYield(Clock::duration interval = kDefaultInterval,
                        std::function<Clock::time_point()> now = &Clock::now);

    // Handles the waiting events if this is the first call since construction or makeDue(), or
    // if the interval has passed since the last turn ended by the time of a clock reading.
    // Returns whether it did.
    bool operator()();

    // The next call hands the loop a turn whatever the time: a new piece of work starts with
    // the events that were waiting for it.
    void makeDue() { lastTurnEnd_.reset(); }

private:
    Clock::duration interval_;
    std::function<Clock::time_point()> now_;
    std::optional<Clock::time_point> lastTurnEnd_;
    int callsSinceClockRead_ = 0;
};

} // namespace quavera
