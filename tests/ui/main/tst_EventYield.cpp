// The cut's turns for the event loop: when a turn is due, and what a turn handles.
#include "ui/EventYield.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using quavera::EventYield;

namespace {

// A clock the test moves by hand.
struct ManualClock {
    EventYield::Clock::time_point now{std::chrono::seconds(100)};
    [[nodiscard]] auto reader() {
        return [this] { return now; };
    }
};

// Counts the events posted to it that reached it.
class EventCounter : public QObject {
public:
    static constexpr auto kType = static_cast<QEvent::Type>(QEvent::User + 1);
    int received = 0;
    std::function<void()> onEvent;
    void post() { QCoreApplication::postEvent(this, new QEvent(kType)); }

protected:
    bool event(QEvent* event) override {
        if (event->type() != kType) {
            return QObject::event(event);
        }
        ++received;
        if (onEvent) {
            onEvent();
        }
        return true;
    }
};

} // namespace

class TestEventYield : public QObject {
    Q_OBJECT

    // Calls the yield until it gives a turn, at most up to its next clock reading; returns the
    // number of the call that gave the turn, or 0.
    static int callsUntilTurn(EventYield& yield) {
        for (int call = 1; call <= EventYield::kCallsPerClockRead; ++call) {
            if (yield()) {
                return call;
            }
        }
        return 0;
    }

private slots:
    // The call at which a turn comes: at once when nothing came before or it was made due,
    // else at the first clock reading that finds the interval passed; 0 when none of the calls
    // up to that reading gives one.
    void turnIsGivenOnlyWhenDue_data() {
        QTest::addColumn<bool>("earlierTurn");
        QTest::addColumn<int>("earlierTurnLastsUs");
        QTest::addColumn<int>("waitUs");
        QTest::addColumn<bool>("madeDue");
        QTest::addColumn<int>("turnAtCall");

        constexpr int reading = EventYield::kCallsPerClockRead;
        QTest::newRow("first call") << false << 0 << 0 << false << 1;
        QTest::newRow("within the interval") << true << 0 << 999 << false << 0;
        QTest::newRow("interval passed") << true << 0 << 1000 << false << reading;
        QTest::newRow("made due at once") << true << 0 << 0 << true << 1;
        QTest::newRow("long turn counts from its end") << true << 5000 << 999 << false << 0;
        QTest::newRow("long turn, then the interval") << true << 5000 << 1000 << false << reading;
    }
    void turnIsGivenOnlyWhenDue() {
        QFETCH(bool, earlierTurn);
        QFETCH(int, earlierTurnLastsUs);
        QFETCH(int, waitUs);
        QFETCH(bool, madeDue);
        QFETCH(int, turnAtCall);

        ManualClock clock;
        EventYield yield(1ms, clock.reader());
        EventCounter counter;
        if (earlierTurn) {
            counter.onEvent = [&] { clock.now += std::chrono::microseconds(earlierTurnLastsUs); };
            counter.post();
            QVERIFY(yield());
            QCOMPARE(counter.received, 1);
            counter.onEvent = nullptr;
        }
        clock.now += std::chrono::microseconds(waitUs);
        if (madeDue) {
            yield.makeDue();
        }
        counter.post();
        const int before = counter.received;
        QCOMPARE(callsUntilTurn(yield), turnAtCall);
        QCOMPARE(counter.received - before, turnAtCall != 0 ? 1 : 0);

        // Whatever was left waiting is handled at the next due turn.
        clock.now += 1ms;
        QCOMPARE(callsUntilTurn(yield), EventYield::kCallsPerClockRead);
        QCOMPARE(counter.received - before, 1);
    }

    void dueTimerFiresInATurn() {
        ManualClock clock;
        EventYield yield(1ms, clock.reader());
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        int ticks = 0;
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start();
        // Sleeping makes the timer due; the turn below must then run it.
        std::this_thread::sleep_for(20ms);
        QVERIFY(yield());
        QCOMPARE(ticks, 1);
    }
};

QTEST_MAIN(TestEventYield)
#include "tst_EventYield.moc"
