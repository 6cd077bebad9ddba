// The player's loudness outline on long sources, in the real main window with the real player.
//
// For a 5-minute and a 60-minute 128 kbit/s MP3 (the 5-minute tone is encoded by lame without
// an Info frame; twelve copies of it joined make one 60-minute stream), the source is chosen in
// the main window, which gives it to its player; the time from that click until the outline is
// complete is set against `ffmpeg -v error -i FILE -f null -` on the same file, run in the same
// round. A 10 ms probe timer runs meanwhile: its longest gap is how long the window could not
// react. The resident peak before and after the first round shows what the reading keeps; a
// short file read before the first round pays for loading GStreamer's plugins.
// Three rounds each; the medians count.
//
// Then cuts of the 60-minute source while its outline is read and after it is complete, three of
// each per round, nine in all; the medians count. The cut must not slow down because of the
// reading: the window holds the reading while a cut runs.
//
// Then, on the 60-minute source with its outline complete and playback paused at 10:00 and at
// 55:00, the screen is zoomed to 2 s across by Ctrl + wheel at the playhead: the time until the
// detail of the part shown is read, the longest probe gap meanwhile, and the growth of the
// resident memory (now, not the peak) from before the zoom to the detail, three rounds each.
//
// The last lines:
//   bench: waveform source_min=5 ready_ms=... ffmpeg_decode_ms=... ratio=... max_gap_ms=...
//          rss_growth_mb=...
//   bench: waveform_zoom source_min=60 at_s=... span_s=2 detail_ms=... max_gap_ms=...
//          rss_growth_mb=...
//   bench: cut_while_reading size_mb=... alone_mb_s=... reading_mb_s=... ratio=...

#include "adapters/QtPlayerView.h"
#include "adapters/WaveformReader.h"
#include "adapters/WaveformView.h"
#include "bench/BenchSupport.h"
#include "fakes/ToneMp3.h"
#include "ui/MainWindow.h"
#include "ui/main/MainWindowFakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QTimer>
#include <QWheelEvent>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace quavera::bench;
using quavera::MainWindow;
using quavera::PlayerView;
using quavera::WaveformReader;
using quavera::testing::MainWindowRig;

constexpr int kRounds = 3;
constexpr int kPiecesPerHour = 12;
constexpr int kCutsPerRound = 3;

QAbstractButton& Button(MainWindow& window, const char* name) {
    auto* button = window.findChild<QAbstractButton*>(QLatin1String(name));
    Require(button != nullptr, std::string("the window has no ") + name);
    return *button;
}

double FfmpegDecodeMs(const fs::path& source) {
    QProcess ffmpeg;
    QElapsedTimer clock;
    clock.start();
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                  QString::fromStdString(source.string()), QStringLiteral("-f"),
                  QStringLiteral("null"), QStringLiteral("-")});
    Require(ffmpeg.waitForFinished(600000) && ffmpeg.exitCode() == 0, "ffmpeg failed");
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// The largest time between two ticks of a 10 ms timer while it runs.
class GapProbe {
public:
    GapProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        longest_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    double stop() {
        tick();
        timer_.stop();
        return longest_;
    }

private:
    void tick() {
        const double now = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    double last_ = 0;
    double longest_ = 0;
};

struct Window {
    MainWindowRig rig;
    MainWindow window;
    PlayerView& player;
    WaveformReader& reader;

    static MainWindowRig& WithRealPlayer(MainWindowRig& rig) {
        rig.makePlayer = quavera::makeQtPlayerFactory();
        return rig;
    }
    Window()
        : window(WithRealPlayer(rig).services()),
          player(*window.findChild<PlayerView*>(QStringLiteral("MDplay"))),
          reader(*player.findChild<WaveformReader*>()) {
        window.show();
    }
    void choose(const fs::path& source) {
        rig.openDialog.answers.push_back(source.string());
        Button(window, "cmdBrowseS").click();
    }
    // Runs the event loop until the outline is complete; false if it failed or took too long.
    bool waitForOutline() {
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&reader, &WaveformReader::changed, &loop, [&] {
            if (reader.state() != WaveformReader::State::Reading)
                loop.quit();
        });
        timeout.start(600000);
        if (reader.state() == WaveformReader::State::Reading)
            loop.exec();
        return reader.state() == WaveformReader::State::Complete;
    }
};

struct OutlineFigures {
    double readyMs = 0;
    double ffmpegMs = 0;
    double longestGapMs = 0;
    double rssGrowthMiB = 0;
};

OutlineFigures MeasureOutline(Window& rig, const fs::path& source, int minutes) {
    std::array<double, kRounds> ready{};
    std::array<double, kRounds> ffmpeg{};
    OutlineFigures figures;
    const double rssBefore = PeakResidentMiB();
    GapProbe probe;
    for (int round = 0; round < kRounds; ++round) {
        ffmpeg[round] = FfmpegDecodeMs(source);
        QElapsedTimer clock;
        probe.start();
        clock.start();
        rig.choose(source);
        Require(rig.waitForOutline(), "the outline was not completed");
        ready[round] = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double gap = probe.stop();
        figures.longestGapMs = std::max(figures.longestGapMs, gap);
        if (round == 0)
            figures.rssGrowthMiB = PeakResidentMiB() - rssBefore;
        std::printf("source_min=%d round=%d ready_ms=%.0f ffmpeg_decode_ms=%.0f gap_ms=%.1f "
                    "read_s=%.1f\n",
                    minutes, round + 1, ready[round], ffmpeg[round], gap, rig.reader.readSeconds());
        std::fflush(stdout);
    }
    figures.readyMs = Median(ready);
    figures.ffmpegMs = Median(ffmpeg);
    return figures;
}

void Pump(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Clicks the player's screen at a fraction of its width: playback moves there.
void ClickScreen(Window& rig, double fraction) {
    auto* screen = rig.player.findChild<QWidget*>(QStringLiteral("screen"));
    Require(screen != nullptr, "the player has no screen");
    const QPointF at(screen->width() * fraction, screen->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, screen->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, screen->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(screen, &press);
    QCoreApplication::sendEvent(screen, &release);
    Pump(500);
}

// One cut of the loaded source, as a user marks it on the screen: Start near its left end, End
// near its right end. The cut writes only the piece, so the piece must be long for the cut to
// take measurable time: it is about nine tenths of the source.
double CutSeconds(Window& rig, const fs::path& kept) {
    if (auto* play = rig.player.findChild<QAbstractButton*>(QStringLiteral("playPauseButton"));
        play != nullptr && play->toolTip() == QStringLiteral("播放"))
        play->click(); // paused by the cut before
    ClickScreen(rig, 0.02);
    Button(rig.window, "cmdQ").click();
    ClickScreen(rig, 0.95);
    const double seconds = Timed([&] { Button(rig.window, "Command1").click(); });
    if (!fs::exists(kept) && !rig.rig.messages.shown.empty())
        std::fprintf(stderr, "bench_waveform: End said %s\n",
                     rig.rig.messages.shown.back().text.c_str());
    Require(fs::exists(kept), "the cut did not write the piece");
    fs::remove(kept);
    return seconds;
}

double ResidentMiB() {
    long pages = 0;
    long resident = 0;
    FileHandle statm(std::fopen("/proc/self/statm", "r"));
    Require(statm && std::fscanf(statm.get(), "%ld %ld", &pages, &resident) == 2,
            "cannot read /proc/self/statm");
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           static_cast<double>(kMiB);
}

struct ZoomFigures {
    double atSeconds = 0;
    double spanSeconds = 0;
    double detailMs = 0;
    double longestGapMs = 0;
    double rssGrowthMiB = 0;
};

// Zooms the screen of the loaded, paused source from the whole file to its shortest span around
// `fraction` of its width by Ctrl + wheel, and waits for the detail; then shows the whole again.
ZoomFigures MeasureZoom(Window& rig, double fraction) {
    auto* screen = rig.player.findChild<quavera::WaveformView*>(QStringLiteral("screen"));
    auto* detail = rig.player.findChild<WaveformReader*>(QStringLiteral("detailReader"));
    Require(screen != nullptr && detail != nullptr, "the player has no screen or no detail");
    ClickScreen(rig, fraction);
    std::array<double, kRounds> ready{};
    ZoomFigures figures;
    GapProbe probe;
    for (int round = 0; round < kRounds; ++round) {
        screen->showWhole();
        Pump(300);
        const double rssBefore = ResidentMiB();
        const QPointF at(screen->width() * fraction, screen->height() / 2.0);
        QWheelEvent wheel(at, screen->mapToGlobal(at), QPoint(), QPoint(0, 40 * 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QElapsedTimer clock;
        probe.start();
        clock.start();
        QCoreApplication::sendEvent(screen, &wheel);
        while (detail->state() != WaveformReader::State::Complete && clock.elapsed() < 60000) {
            Require(detail->state() == WaveformReader::State::Reading, "the detail is not read");
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        ready[round] = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        Pump(200); // the window after the detail, too
        figures.longestGapMs = std::max(figures.longestGapMs, probe.stop());
        figures.rssGrowthMiB = std::max(figures.rssGrowthMiB, ResidentMiB() - rssBefore);
        const quavera::WaveformScene& scene = screen->scene();
        figures.atSeconds = (scene.shownFromSeconds + scene.shownToSeconds) / 2;
        figures.spanSeconds = scene.shownToSeconds - scene.shownFromSeconds;
        std::printf("zoom at_s=%.0f round=%d detail_ms=%.1f\n", figures.atSeconds, round + 1,
                    ready[round]);
        std::fflush(stdout);
    }
    screen->showWhole();
    figures.detailMs = Median(ready);
    return figures;
}

struct CutFigures {
    double aloneRate = 0;
    std::optional<double> readingRate; // nothing: the outline was done before any cut began
};

// A cut that begins after the outline is complete counts as a cut alone: on a fast machine the
// outline of the hour may be done before the first cut.
CutFigures MeasureCutWhileReading(Window& rig, const fs::path& source, const fs::path& folder) {
    rig.rig.folderPicker.answers.push_back(folder.string());
    Button(rig.window, "cmdBrowseD").click();
    const fs::path kept = folder / ("[铃声]1" + source.filename().string());
    std::vector<double> reading;
    std::vector<double> alone;
    for (int round = 0; round < kRounds; ++round) {
        rig.choose(source);
        Pump(1000);
        for (int cut = 0; cut < kCutsPerRound; ++cut) {
            const bool outlineReading = rig.reader.state() == WaveformReader::State::Reading;
            (outlineReading ? reading : alone).push_back(CutSeconds(rig, kept));
        }
        Require(rig.waitForOutline(), "the outline was not completed");
        for (int cut = 0; cut < kCutsPerRound; ++cut)
            alone.push_back(CutSeconds(rig, kept));
        std::printf("cut round=%d reading_cuts=%zu alone_cuts=%zu\n", round + 1, reading.size(),
                    alone.size());
        std::fflush(stdout);
    }
    const double mib = static_cast<double>(fs::file_size(source)) / static_cast<double>(kMiB);
    CutFigures figures{mib / Median(alone), std::nullopt};
    if (!reading.empty())
        figures.readingRate = mib / Median(reading);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    QApplication application(argc, argv);
    std::vector<std::string> summaries;
    const auto printSummaries = [&] {
        for (const auto& summary : summaries)
            std::printf("%s\n", summary.c_str());
    };
    try {
        const TemporaryFolder folder;
        const fs::path five = folder.path() / "five.mp3";
        const fs::path hour = folder.path() / "hour.mp3";
        Require(quavera::testing::EncodeToneMp3(QString::fromStdString(five.string()), 300.0, 0.5),
                "lame failed");
        {
            QFile piece(QString::fromStdString(five.string()));
            QFile joined(QString::fromStdString(hour.string()));
            Require(piece.open(QIODevice::ReadOnly) && joined.open(QIODevice::WriteOnly),
                    "cannot join the hour");
            const QByteArray bytes = piece.readAll();
            for (int copy = 0; copy < kPiecesPerHour; ++copy)
                Require(joined.write(bytes) == bytes.size(), "cannot write the hour");
        }

        char line[300];
        Window rig;
        // The first file loads GStreamer's plugins and builds the player's pipeline: paid once
        // per run whatever the length, so not counted as the outline's memory.
        const fs::path warmUp = folder.path() / "warm-up.mp3";
        Require(quavera::testing::EncodeToneMp3(QString::fromStdString(warmUp.string()), 5.0, 0.5),
                "lame failed");
        rig.choose(warmUp);
        Require(rig.waitForOutline(), "the warm-up outline was not completed");
        // Each phase prints what it measured; one that cannot run says why, and the rest go on.
        const auto phase = [&](const char* name, const auto& measure) {
            try {
                measure();
            } catch (const std::exception& error) {
                summaries.push_back(std::string("bench: ") + name + " skipped: " + error.what());
            }
        };
        for (const auto& [source, minutes] : {std::pair{five, 5}, std::pair{hour, 60}}) {
            phase("waveform", [&, source = source, minutes = minutes] {
                const OutlineFigures figures = MeasureOutline(rig, source, minutes);
                std::snprintf(line, sizeof line,
                              "bench: waveform source_min=%d ready_ms=%.0f ffmpeg_decode_ms=%.0f "
                              "ratio=%.2f max_gap_ms=%.1f rss_growth_mb=%.1f",
                              minutes, figures.readyMs, figures.ffmpegMs,
                              figures.readyMs / figures.ffmpegMs, figures.longestGapMs,
                              figures.rssGrowthMiB);
                summaries.emplace_back(line);
            });
        }
        phase("waveform_zoom", [&] {
            rig.choose(hour);
            Require(rig.waitForOutline(), "the outline was not completed");
            if (auto* play =
                    rig.player.findChild<QAbstractButton*>(QStringLiteral("playPauseButton"));
                play != nullptr && play->toolTip() == QStringLiteral("暂停"))
                play->click();
            for (const double atSeconds : {600.0, 3300.0}) {
                const ZoomFigures zoom = MeasureZoom(rig, atSeconds / (kPiecesPerHour * 300.0));
                std::snprintf(line, sizeof line,
                              "bench: waveform_zoom source_min=60 at_s=%.0f span_s=%.0f "
                              "detail_ms=%.1f max_gap_ms=%.1f rss_growth_mb=%.1f",
                              zoom.atSeconds, zoom.spanSeconds, zoom.detailMs, zoom.longestGapMs,
                              zoom.rssGrowthMiB);
                summaries.emplace_back(line);
            }
        });
        phase("cut_while_reading", [&] {
            const CutFigures cuts = MeasureCutWhileReading(rig, hour, folder.path());
            const double sizeMiB =
                static_cast<double>(fs::file_size(hour)) / static_cast<double>(kMiB);
            if (cuts.readingRate) {
                std::snprintf(line, sizeof line,
                              "bench: cut_while_reading size_mb=%.1f alone_mb_s=%.1f "
                              "reading_mb_s=%.1f ratio=%.3f",
                              sizeMiB, cuts.aloneRate, *cuts.readingRate,
                              *cuts.readingRate / cuts.aloneRate);
            } else {
                std::snprintf(line, sizeof line,
                              "bench: cut_while_reading size_mb=%.1f alone_mb_s=%.1f "
                              "reading skipped: the outline was complete before the first cut",
                              sizeMiB, cuts.aloneRate);
            }
            summaries.emplace_back(line);
        });
        rig.player.setURL("");
        printSummaries();
    } catch (const std::exception& error) {
        printSummaries();
        std::fprintf(stderr, "bench_waveform: %s\n", error.what());
        return 1;
    }
    return 0;
}
