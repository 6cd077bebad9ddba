// The real program's speed: start-up, and cuts through the real main window.
//
// Start-up: the time from starting a process to the main window's first paint. The process is
// this benchmark started again with --startup-child, which builds the program exactly as
// `quavera` does (the same Program class) and reports the moment of the paint on the system's
// monotonic clock; the quavera binary itself has no way to tell another process that moment.
// Each run gets a fresh configuration folder, seeded beforehand by one run that answered the
// first-run question, so the question does not show. Median of seven runs.
//
// Cuts: for each source size (default 5 and 100 MB, or the sizes given as arguments) the main
// window cuts the source into three parts (Start at 1 % of its length, End at 99 %, with a
// player that plays nothing; all three are written, the middle one kept) through its own yield to
// the event loop while Timer1 and a 10 ms probe timer run, and a plain copy of the same bytes runs
// in the same process. Seven rounds each, alternating; the medians count. The longest gap is the
// largest time between two probe ticks (or a tick and the cut's start or end) over all rounds: how
// long the window could not react at worst. Peak resident memory is the process's peak so far, so a
// figure that does not rise from the small size to the large one shows that memory does not grow
// with the file.
//
// The last lines:
//   bench: yield_ns process_events=... event_yield=...
//   bench: startup_ms=...
//   bench: size_mb=5 cut_mb_s=... copy_mb_s=... ratio=... max_tick_gap_ms=... peak_rss_mb=...

#include "app/Program.h"
#include "bench/BenchSupport.h"
#include "ui/EventYield.h"
#include "ui/MainWindow.h"
#include "ui/main/MainWindowFakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace quavera::bench;
using Clock = std::chrono::steady_clock;
using quavera::MainWindow;
using quavera::testing::MainWindowRig;

constexpr int kRounds = 7;
constexpr char kStartupChildOption[] = "--startup-child";
constexpr char kShownKey[] = "shown_ns=";
constexpr char kAskedKey[] = "asked=";

double Milliseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

// --- start-up ---

// The process the start-up is measured in: the program as main builds it. A first-run question
// is turned down, so one run can seed a configuration folder.
int RunStartupChild(int argc, char** argv) {
    quavera::IdentifyProgram();
    quavera::PrepareProcessEnvironment();
    QApplication application(argc, argv);
    bool asked = false;
    QTimer answerer;
    answerer.setInterval(20);
    QObject::connect(&answerer, &QTimer::timeout, [&asked] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            asked = true;
            box->reject();
        }
    });
    answerer.start();

    quavera::Program program;
    MainWindow& window = program.window();
    struct FirstPaint : QObject {
        bool& asked;
        explicit FirstPaint(bool& askedFlag) : asked(askedFlag) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                const auto now = Clock::now().time_since_epoch();
                std::printf("%s%lld\n%s%d\n", kShownKey,
                            static_cast<long long>(
                                std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                            kAskedKey, asked ? 1 : 0);
                std::fflush(stdout);
                QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
            }
            return false;
        }
    } firstPaint(asked);
    window.installEventFilter(&firstPaint);
    window.show();
    return QApplication::exec();
}

struct StartupRun {
    double milliseconds = 0;
    bool asked = false;
};

StartupRun StartOnce(const fs::path& configFolder) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(configFolder));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    const auto start = Clock::now();
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(kStartupChildOption)});
    // The player's complaints about the missing sound server matter only when the run fails.
    Require(child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit &&
                child.exitCode() == 0,
            "the start-up run failed:\n" + child.readAllStandardError().toStdString());

    StartupRun run;
    bool shown = false;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith(kShownKey)) {
            const Clock::time_point paint{std::chrono::duration_cast<Clock::duration>(
                std::chrono::nanoseconds(line.mid(sizeof kShownKey - 1).toLongLong()))};
            run.milliseconds = Milliseconds(paint - start);
            shown = true;
        } else if (line.startsWith(kAskedKey)) {
            run.asked = line.mid(sizeof kAskedKey - 1) == "1";
        }
    }
    Require(shown, "the start-up run did not paint its window");
    return run;
}

double MeasureStartup(const fs::path& folder) {
    const fs::path seeded = folder / "seeded-config";
    fs::create_directories(seeded);
    Require(StartOnce(seeded).asked, "the seeding run was not asked the first-run question");
    std::array<double, kRounds> milliseconds{};
    for (int round = 0; round < kRounds; ++round) {
        const fs::path fresh = folder / ("config-" + std::to_string(round));
        fs::copy(seeded, fresh, fs::copy_options::recursive);
        const StartupRun run = StartOnce(fresh);
        Require(!run.asked, "the first-run question showed in a seeded configuration");
        milliseconds[round] = run.milliseconds;
        std::printf("startup round=%d ms=%.1f\n", round + 1, run.milliseconds);
        fs::remove_all(fresh);
    }
    return Median(milliseconds);
}

// --- the yield's own cost ---

template <typename Yield> double NanosecondsPerCall(Yield&& yield) {
    constexpr int kCalls = 200000;
    const auto start = Clock::now();
    for (int call = 0; call < kCalls; ++call)
        yield();
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kCalls;
}

// --- cuts through the main window ---

QAbstractButton& Button(MainWindow& window, const char* name) {
    auto* button = window.findChild<QAbstractButton*>(QLatin1String(name));
    Require(button != nullptr, std::string("the window has no ") + name);
    return *button;
}

// Records the ticks of Timer1 and of a 10 ms probe while a cut runs.
class TickRecorder {
public:
    explicit TickRecorder(MainWindow& window) {
        probe_.setTimerType(Qt::PreciseTimer);
        probe_.setInterval(10);
        QObject::connect(&probe_, &QTimer::timeout, [this] { ticks_.push_back(Clock::now()); });
        auto* timer1 = window.findChild<QTimer*>(QStringLiteral("Timer1"));
        Require(timer1 != nullptr && timer1->isActive(), "Timer1 is not running");
        QObject::connect(timer1, &QTimer::timeout, [this] { ticks_.push_back(Clock::now()); });
        ticks_.reserve(100000);
    }
    void start() {
        ticks_.clear();
        probe_.start();
        start_ = Clock::now();
    }
    // The longest time without a tick since start().
    double stop() {
        const auto end = Clock::now();
        probe_.stop();
        double longest = 0;
        Clock::time_point previous = start_;
        for (const auto tick : ticks_) {
            longest = std::max(longest, Milliseconds(tick - previous));
            previous = tick;
        }
        return std::max(longest, Milliseconds(end - previous));
    }

private:
    QTimer probe_;
    std::vector<Clock::time_point> ticks_;
    Clock::time_point start_;
};

struct CutFigures {
    double cutRate = 0;
    double copyRate = 0;
    double longestGapMs = 0;
};

CutFigures MeasureCuts(const fs::path& folder, std::size_t sizeMiB) {
    Require(sizeMiB > 0 && sizeMiB * kMiB <= 0x7FFFFFFFu,
            "a source must hold 1 byte to 2 GiB - 1 bytes");
    const fs::path source = folder / "source.mp3";
    const fs::path copy = folder / "copy.mp3";
    const fs::path kept = folder / "[铃声]1source.mp3";
    WriteSource(source, sizeMiB);

    MainWindowRig rig;
    MainWindow window(rig.services());
    window.show();
    rig.openDialog.answers.push_back(source.string());
    Button(window, "cmdBrowseS").click();
    rig.folderPicker.answers.push_back(folder.string());
    Button(window, "cmdBrowseD").click();
    auto& player = rig.mainPlayer();
    player.durationSeconds = 200.0;
    TickRecorder ticks(window);

    std::array<double, kRounds> cutSeconds{};
    std::array<double, kRounds> copySeconds{};
    PlainCopier copyPlainly;
    CutFigures figures;
    for (int round = 0; round < kRounds; ++round) {
        copySeconds[round] = Timed([&] { copyPlainly(source, copy); });
        fs::remove(copy);

        player.positionSeconds = 2.0;
        Button(window, "cmdQ").click();
        player.positionSeconds = 198.0;
        QCoreApplication::processEvents();
        double gap = 0;
        cutSeconds[round] = Timed([&] {
            ticks.start();
            Button(window, "Command1").click();
            gap = ticks.stop();
        });
        // The piece kept, the middle part, is 98 % of the source; the other two are written and
        // removed, so the cut reads and writes every byte like the plain copy.
        Require(fs::exists(kept) && fs::file_size(kept) > sizeMiB * kMiB * 97 / 100,
                "the cut did not write the piece");
        fs::remove(kept);
        figures.longestGapMs = std::max(figures.longestGapMs, gap);
        std::printf("size_mb=%zu round=%d cut_s=%.3f copy_s=%.3f tick_gap_ms=%.1f\n", sizeMiB,
                    round + 1, cutSeconds[round], copySeconds[round], gap);
    }
    window.close();
    fs::remove(source);

    const double mib = static_cast<double>(sizeMiB);
    figures.cutRate = mib / Median(cutSeconds);
    figures.copyRate = mib / Median(copySeconds);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == kStartupChildOption)
        return RunStartupChild(argc, argv);

    std::vector<std::size_t> sizesMiB;
    for (int i = 1; i < argc; ++i)
        sizesMiB.push_back(std::strtoull(argv[i], nullptr, 10));
    if (sizesMiB.empty())
        sizesMiB = {5, 100};

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    try {
        const TemporaryFolder folder;
        std::vector<std::string> summaries;
        char line[200];

        {
            MainWindowRig rig;
            MainWindow window(rig.services());
            window.show();
            QCoreApplication::processEvents();
            quavera::EventYield yield;
            const double plain = NanosecondsPerCall([] { QCoreApplication::processEvents(); });
            const double throttled = NanosecondsPerCall([&yield] { yield(); });
            std::snprintf(line, sizeof line, "bench: yield_ns process_events=%.0f event_yield=%.0f",
                          plain, throttled);
            summaries.emplace_back(line);
        }

        std::snprintf(line, sizeof line, "bench: startup_ms=%.1f", MeasureStartup(folder.path()));
        summaries.emplace_back(line);

        for (const std::size_t sizeMiB : sizesMiB) {
            const CutFigures figures = MeasureCuts(folder.path(), sizeMiB);
            std::snprintf(line, sizeof line,
                          "bench: size_mb=%zu cut_mb_s=%.1f copy_mb_s=%.1f ratio=%.3f "
                          "max_tick_gap_ms=%.1f peak_rss_mb=%.1f",
                          sizeMiB, figures.cutRate, figures.copyRate,
                          figures.cutRate / figures.copyRate, figures.longestGapMs,
                          PeakResidentMiB());
            summaries.emplace_back(line);
        }
        for (const auto& summary : summaries)
            std::printf("%s\n", summary.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_app: %s\n", error.what());
        return 1;
    }
    return 0;
}
