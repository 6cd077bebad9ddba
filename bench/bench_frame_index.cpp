// The frame index of 5- and 60-minute sources, against reading the same file once into nothing,
// both from a warm cache: CBR behind a 1 MB cover picture, LAME VBR with its information frame,
// and 20 MB of noise that holds no audio.
#include "BenchSupport.h"
#include "core/FrameIndex.h"
#include "fakes/ToneMp3.h"

#include <QCoreApplication>
#include <QFile>
#include <cstring>
#include <fcntl.h>

using namespace quavera;
using namespace quavera::bench;

namespace {

constexpr int kRounds = 5;

double ReadIntoNothingMs(const fs::path& path) {
    std::vector<char> block(kMiB);
    return Timed([&] {
               const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
               Require(file >= 0, "cannot open the source");
               while (::read(file, block.data(), block.size()) > 0) {
               }
               ::close(file);
           }) *
           1000.0;
}

// A figure of /proc/self/status, in MiB.
double StatusMiB(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    Require(status != nullptr, "cannot read /proc/self/status");
    char line[256];
    double kib = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0)
            kib = std::atof(line + length + 1);
    std::fclose(status);
    Require(kib >= 0, std::string("no ") + field);
    return kib / 1024.0;
}

// Starts the peak resident size afresh at the present one, so that the peak after a build is
// the build's own, not that of what ran before.
void ResetPeakResident() {
    std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
    Require(clear != nullptr && std::fputs("5", clear) >= 0 && std::fclose(clear) == 0,
            "cannot reset the peak resident size");
}

QString Text(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// `copies` of a file's audio joined behind the tag of another: one long stream, as lame writes
// it without an information frame.
void Join(const fs::path& tagFrom, const fs::path& audio, int copies, const fs::path& target) {
    QFile tagged(Text(tagFrom));
    QFile piece(Text(audio));
    QFile joined(Text(target));
    Require(tagged.open(QIODevice::ReadOnly) && piece.open(QIODevice::ReadOnly) &&
                joined.open(QIODevice::WriteOnly),
            "cannot join the sources");
    const FrameIndex tagIndex = FrameIndex::Read(tagFrom.string());
    Require(tagIndex.hasAudio(), "the tagged source has no audio");
    Require(joined.write(tagged.read(tagIndex.audioBegin())) == tagIndex.audioBegin(),
            "cannot write the tag");
    // In blocks, so that the process's peak memory before the measurements stays small.
    for (int copy = 0; copy < copies; ++copy) {
        Require(piece.seek(0), "cannot read the audio");
        while (!piece.atEnd()) {
            const QByteArray block = piece.read(1 << 16);
            Require(joined.write(block) == block.size(), "cannot write the audio");
        }
    }
}

// 20 MB of noise named .mp3, as an AAC or a video would be: no audio to find, and a 0xFF byte, a
// possible frame header, every 256 bytes. The search reads every byte of it once.
void WriteNoise(const fs::path& path) {
    QByteArray bytes(20'000'000, Qt::Uninitialized);
    std::uint32_t state = 54321;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    QFile noise(Text(path));
    Require(noise.open(QIODevice::WriteOnly) && noise.write(bytes) == bytes.size(),
            "cannot write the noise");
}

void WriteCover(const fs::path& path) {
    QByteArray bytes("\xFF\xD8\xFF\xE0", 4);
    std::uint32_t state = 12345;
    for (int i = 0; i < 1'000'000; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes.append(static_cast<char>(state >> 24));
    }
    bytes.append("\xFF\xD9", 2);
    QFile cover(Text(path));
    Require(cover.open(QIODevice::WriteOnly) && cover.write(bytes) == bytes.size(),
            "cannot write the cover");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    try {
        const TemporaryFolder folder;
        const auto at = [&](const char* name) { return folder.path() / name; };
        WriteCover(at("cover.jpg"));
        const QStringList cbr{QStringLiteral("-b"), QStringLiteral("128"), QStringLiteral("--cbr")};
        const QStringList vbr{QStringLiteral("-V"), QStringLiteral("2")};
        const auto encode = [&](const fs::path& path, double seconds, QStringList options) {
            Require(testing::EncodeToneMp3(Text(path), seconds, 0.5, 440.0, options),
                    "lame failed");
        };
        encode(at("cbr5.mp3"), 300,
               cbr + QStringList{QStringLiteral("--ti"), Text(at("cover.jpg"))});
        encode(at("plain5.mp3"), 300, cbr + QStringList{QStringLiteral("-t")});
        Join(at("cbr5.mp3"), at("plain5.mp3"), 12, at("cbr60.mp3"));
        encode(at("vbr5.mp3"), 300, vbr);
        encode(at("vbr60.mp3"), 3600, vbr);
        WriteNoise(at("noise.mp3"));

        for (const auto& [name, minutes] :
             {std::pair{"cbr5.mp3", 5}, std::pair{"vbr5.mp3", 5}, std::pair{"cbr60.mp3", 60},
              std::pair{"vbr60.mp3", 60}, std::pair{"noise.mp3", 0}}) {
            const fs::path source = at(name);
            ReadIntoNothingMs(source); // warms the cache
            std::array<double, kRounds> index{};
            std::array<double, kRounds> read{};
            std::size_t frames = 0;
            ResetPeakResident();
            const double rssBefore = StatusMiB("VmRSS");
            for (int round = 0; round < kRounds; ++round) {
                read[round] = ReadIntoNothingMs(source);
                index[round] = Timed([&] {
                                   const FrameIndex built = FrameIndex::Read(source.string());
                                   frames = built.frameCount();
                               }) *
                               1000.0;
            }
            Require((frames > 0) == (minutes > 0),
                    std::string(minutes > 0 ? "no frames found in " : "frames found in ") + name);
            char line[300];
            std::snprintf(line, sizeof line,
                          "bench: frame_index source=%s source_min=%d frames=%zu index_ms=%.1f "
                          "read_ms=%.1f ratio=%.2f peak_rss_mb=%.1f",
                          name, minutes, frames, Median(index), Median(read),
                          Median(index) / Median(read), StatusMiB("VmHWM") - rssBefore);
            std::printf("%s\n", line);
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_frame_index: %s\n", error.what());
        return 1;
    }
    return 0;
}
