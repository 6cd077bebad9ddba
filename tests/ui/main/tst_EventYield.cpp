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

private slots:
    void turnIsGivenOnlyWhenDue_data() {
        QTest::addColumn<bool>("earlierTurn");
        QTest::addColumn<int>("earlierTurnLastsUs");
        QTest::addColumn<int>("waitUs");
        QTest::addColumn<bool>("madeDue");
        QTest::addColumn<bool>("handled");

        QTest::newRow("first call") << false << 0 << 0 << false << true;
        QTest::newRow("within the interval") << true << 0 << 999 << false << false;
        QTest::newRow("interval passed") << true << 0 << 1000 << false << true;
        QTest::newRow("made due at once") << true << 0 << 0 << true << true;
        QTest::newRow("long turn counts from its end") << true << 5000 << 999 << false << false;
        QTest::newRow("long turn, then the interval") << true << 5000 << 1000 << false << true;
    }
    void turnIsGivenOnlyWhenDue() {
        QFETCH(bool, earlierTurn);
        QFETCH(int, earlierTurnLastsUs);
        QFETCH(int, waitUs);
        QFETCH(bool, madeDue);
        QFETCH(bool, handled);

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
        QCOMPARE(yield(), handled);
        QCOMPARE(counter.received - before, handled ? 1 : 0);

        // Whatever was left waiting is handled at the next due turn.
        clock.now += 1ms;
        QVERIFY(yield());
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
