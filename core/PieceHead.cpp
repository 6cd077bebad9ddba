#include "core/PieceHead.h"

#include "core/Descriptor.h"
#include "core/MpegHeader.h"
#include "core/PathText.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <span>
#include <string>
#include <string_view>
#include <unistd.h>

namespace quavera {

using namespace mpeg;

namespace {

// The decoder's own delay, which gapless players leave out together with the declared one.
constexpr std::int64_t kDecoderDelay = 529;
// Delay and padding are 12-bit fields of the LAME extension.
constexpr std::int64_t kLargestGaplessField = 4095;
// The bit reservoir reaches at most this far back: 9 bits of main_data_begin for MPEG-1, 8 bits
// for MPEG-2 and 2.5.
constexpr std::int64_t kReservoirMpeg1 = 511;
constexpr std::int64_t kReservoirMpeg2 = 255;
// Bytes read around the first copied frame: more than the frames that 511 bytes of main data
// span at the lowest bit rate.
constexpr std::int64_t kWindowBack = 8192;
constexpr std::int64_t kWindowAhead = 16384;
// Xing section: id, flags, frames, bytes, 100-entry TOC, quality; then the 36-byte LAME extension.
constexpr std::size_t kTocBytes = 100;
constexpr std::size_t kXingBytes = 4 + 4 + 4 + 4 + kTocBytes + 4;
constexpr std::size_t kLameBytes = 36;
// The ID3v2 text frames a ringtone keeps: title, artist, album, year, genre, track; the names of
// ID3v2.2 come second.
constexpr std::array<std::string_view, 7> kKeptFrames{"TIT2", "TPE1", "TALB", "TYER",
                                                      "TDRC", "TCON", "TRCK"};
constexpr std::array<std::string_view, 6> kKeptFramesV22{"TT2", "TP1", "TAL", "TYE", "TCO", "TRK"};
constexpr std::int64_t kLargestKeptFrame = 1 << 16;

using Bytes = std::vector<std::uint8_t>;

Bytes ReadAt(int fd, std::int64_t offset, std::int64_t count) {
    Bytes bytes(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
    bytes.resize(ReadFully(fd, bytes.data(), bytes.size(), offset));
    return bytes;
}

void PutBigEndian(Bytes& bytes, std::size_t at, std::uint32_t value, int count = 4) {
    for (int i = 0; i < count; ++i)
        bytes[at + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(value >> (8 * (count - 1 - i)));
}

// The CRC-16 that protects a frame's side information: polynomial 0x8005, start 0xFFFF.
std::uint16_t FrameCrc(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0xFFFF) {
    for (const std::uint8_t byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = (crc & 0x8000) != 0;
            crc = static_cast<std::uint16_t>(crc << 1);
            if (top != (((byte >> bit) & 1) != 0))
                crc ^= 0x8005;
        }
    }
    return crc;
}

// The CRC-16 LAME puts on its own tag: the reflected polynomial 0xA001, start 0.
std::uint16_t LameCrc(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::size_t CrcBytes(const FrameHeader& header) {
    return header.crc ? 2 : 0;
}

// Writes the CRC of a protected Layer III frame: over the header's last two bytes and the side
// information.
void ProtectSideInformation(Bytes& frame, const FrameHeader& header) {
    if (!header.crc)
        return;
    const std::array<std::uint8_t, 2> protectedHeader{frame[2], frame[3]};
    PutBigEndian(
        frame, 4,
        FrameCrc(std::span(frame).subspan(6, SideInfoBytes(header)), FrameCrc(protectedHeader)), 2);
}

int BitrateIndex(std::span<const std::uint8_t> header) {
    return header[2] >> 4;
}

// Whether two headers name the same bit rate.
bool SameBitrate(std::span<const std::uint8_t> one, std::span<const std::uint8_t> other) {
    return BitrateIndex(one) == BitrateIndex(other);
}

// A header like `header` with bit rate `bitrateIndex` and no padding slot.
std::array<std::uint8_t, 4> WithBitrate(std::array<std::uint8_t, 4> header, int bitrateIndex) {
    header[2] = static_cast<std::uint8_t>((header[2] & 0x0D) | (bitrateIndex << 4));
    return header;
}

// The bit rate of `header`, or the smallest one, whose frame holds at least `bytes` bytes after
// the header, CRC and side information; nothing when none does.
std::optional<std::array<std::uint8_t, 4>> HeaderHolding(const std::array<std::uint8_t, 4>& header,
                                                         std::size_t bytes, bool sideInfo) {
    auto holds = [&](int index) -> std::optional<FrameHeader> {
        const auto candidate = WithBitrate(header, index);
        const auto parsed = ParseHeader(candidate);
        if (!parsed)
            return std::nullopt;
        const std::size_t overhead =
            4 + CrcBytes(*parsed) + (sideInfo ? SideInfoBytes(*parsed) : 0);
        return parsed->length >= overhead + bytes ? parsed : std::nullopt;
    };
    if (holds(BitrateIndex(header)))
        return WithBitrate(header, BitrateIndex(header));
    for (int index = 1; index < 15; ++index) {
        if (holds(index))
            return WithBitrate(header, index);
    }
    return std::nullopt;
}

// The source's ID3v2 text frames that name the piece, and the tag's version in `major`; empty
// when it has none. A picture or a length copied from the source would be wrong here.
Bytes Id3v2TextFrames(int fd, int& major) {
    const Bytes top = ReadAt(fd, 0, 10);
    if (top.size() < 10 || !StartsWith(top, "ID3") || top[3] < 2 || top[3] > 4)
        return {};
    const auto size = SyncSafe(top, 6);
    major = top[3];
    // A tag unsynchronised as a whole cannot be walked frame by frame.
    if (!size || (top[5] & 0x80))
        return {};
    const std::int64_t end = 10 + *size;
    std::int64_t position = 10;
    if (major > 2 && (top[5] & 0x40)) {
        const Bytes extended = ReadAt(fd, position, 4);
        if (extended.size() < 4)
            return {};
        position += major == 4 ? SyncSafe(extended, 0).value_or(end) : BigEndian32(extended, 0) + 4;
    }
    const std::size_t headerBytes = major == 2 ? 6 : 10;
    Bytes frames;
    while (position + static_cast<std::int64_t>(headerBytes) <= end) {
        const Bytes header = ReadAt(fd, position, static_cast<std::int64_t>(headerBytes));
        if (header.size() < headerBytes || header[0] == 0)
            break;
        std::int64_t body = 0;
        if (major == 2)
            body = (std::int64_t{header[3]} << 16) | (header[4] << 8) | header[5];
        else if (major == 4)
            body = SyncSafe(header, 4).value_or(end);
        else
            body = BigEndian32(header, 4);
        const std::string_view id(reinterpret_cast<const char*>(header.data()), major == 2 ? 3 : 4);
        const bool kept =
            major == 2 ? std::find(kKeptFramesV22.begin(), kKeptFramesV22.end(), id) !=
                             kKeptFramesV22.end()
                       : std::find(kKeptFrames.begin(), kKeptFrames.end(), id) != kKeptFrames.end();
        if (kept && body <= kLargestKeptFrame &&
            position + static_cast<std::int64_t>(headerBytes) + body <= end) {
            const Bytes frame = ReadAt(fd, position, static_cast<std::int64_t>(headerBytes) + body);
            frames.insert(frames.end(), frame.begin(), frame.end());
        }
        position += static_cast<std::int64_t>(headerBytes) + body;
    }
    return frames;
}

// An ID3v2.3 text frame holding `text` with encoding byte 0; nothing for an empty text.
void AppendTextFrame(Bytes& frames, std::string_view id, std::string_view text) {
    if (text.empty())
        return;
    const std::size_t at = frames.size();
    frames.insert(frames.end(), id.begin(), id.end());
    frames.resize(at + 10);
    PutBigEndian(frames, at + 4, static_cast<std::uint32_t>(text.size() + 1));
    frames.push_back(0);
    frames.insert(frames.end(), text.begin(), text.end());
}

// The text of an ID3v1 tag at the source's end (title, artist, album, year, track, genre), as
// ID3v2.3 frames, for sources tagged only there. The bytes stay as they are, so readers guess
// their encoding as they did on the source's tag.
Bytes Id3v1TextFrames(int fd) {
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 128)
        return {};
    const Bytes tag = ReadAt(fd, size - 128, 128);
    if (tag.size() < 128 || !StartsWith(tag, "TAG"))
        return {};
    const auto field = [&](std::size_t at, std::size_t count) {
        std::string_view text(reinterpret_cast<const char*>(tag.data() + at), count);
        text = text.substr(0, text.find('\0'));
        while (!text.empty() && text.back() == ' ')
            text.remove_suffix(1);
        return text;
    };
    Bytes frames;
    AppendTextFrame(frames, "TIT2", field(3, 30));
    AppendTextFrame(frames, "TPE1", field(33, 30));
    AppendTextFrame(frames, "TALB", field(63, 30));
    AppendTextFrame(frames, "TYER", field(93, 4));
    // ID3v1.1: a zero before the comment's last byte makes that byte the track.
    if (tag[125] == 0 && tag[126] != 0)
        AppendTextFrame(frames, "TRCK", std::to_string(tag[126]));
    if (tag[127] != 0xFF)
        AppendTextFrame(frames, "TCON", "(" + std::to_string(tag[127]) + ")");
    return frames;
}

// The source's text that names the piece, as an ID3v2 tag: its ID3v2 text frames in a tag of the
// source's own version, else those of its ID3v1 tag; empty when it has neither.
Bytes TextTag(int fd) {
    int major = 3;
    Bytes frames = Id3v2TextFrames(fd, major);
    if (frames.empty()) {
        major = 3;
        frames = Id3v1TextFrames(fd);
    }
    if (frames.empty())
        return {};
    Bytes tag{'I', 'D', '3', static_cast<std::uint8_t>(major), 0, 0, 0, 0, 0, 0};
    const auto bodySize = static_cast<std::uint32_t>(frames.size());
    for (int i = 0; i < 4; ++i)
        tag[6 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>((bodySize >> (7 * (3 - i))) & 0x7F);
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

// One silent Layer III frame of the stream's kind: side information all zero (no main data of its
// own, none taken from before it), its main-data area ending with `reservoir`, which the frames
// after it reach back for.
std::optional<Bytes> SilentFrame(const std::array<std::uint8_t, 4>& streamHeader,
                                 const Bytes& reservoir) {
    const auto header = HeaderHolding(streamHeader, reservoir.size(), true);
    if (!header)
        return std::nullopt;
    const FrameHeader parsed = *ParseHeader(*header);
    Bytes frame(parsed.length, 0);
    std::copy(header->begin(), header->end(), frame.begin());
    ProtectSideInformation(frame, parsed);
    std::copy(reservoir.begin(), reservoir.end(), frame.end() - std::ssize(reservoir));
    return frame;
}

struct InfoFields {
    bool constantBitrate = false;
    std::uint32_t frames = 0;
    std::uint32_t bytes = 0;
    std::array<std::uint8_t, 100> toc{};
    std::uint32_t delay = 0;
    std::uint32_t padding = 0;
};

// The information frame, laid out as LAME lays out its own: the Xing section right after the side
// information (where readers look for it, whatever the CRC bit), then the LAME extension, whose
// last two bytes are a CRC of the frame before them.
// It keeps the stream's bit rate where it can, leaving out the TOC if that is what it takes:
// readers that find "Info" take a CBR file's length from its first frame's bit rate. Only a
// frame too small even then gets a larger bit rate, and is called "Xing", so that they count the
// frames instead.
std::optional<Bytes> InformationFrame(const std::array<std::uint8_t, 4>& streamHeader,
                                      const InfoFields& fields) {
    const FrameHeader stream = *ParseHeader(streamHeader);
    const std::size_t xing = InformationTagOffset(stream);
    const std::size_t whole = xing + kXingBytes + kLameBytes - 4;
    auto header = HeaderHolding(streamHeader, whole, false);
    if (!header)
        return std::nullopt;
    const auto withoutToc = HeaderHolding(streamHeader, whole - kTocBytes, false);
    const bool withToc =
        SameBitrate(*header, streamHeader) || !SameBitrate(*withoutToc, streamHeader);
    if (!withToc)
        header = withoutToc;
    const FrameHeader parsed = *ParseHeader(*header);
    Bytes frame(parsed.length, 0);
    std::copy(header->begin(), header->end(), frame.begin());
    const bool constant = fields.constantBitrate && SameBitrate(*header, streamHeader);
    const std::string_view id = constant ? "Info" : "Xing";
    std::copy(id.begin(), id.end(), frame.begin() + static_cast<std::ptrdiff_t>(xing));
    // Frames, bytes and quality present; the TOC too when it is there.
    PutBigEndian(frame, xing + 4, withToc ? 0x0F : 0x0B);
    PutBigEndian(frame, xing + 8, fields.frames);
    PutBigEndian(frame, xing + 12, fields.bytes);
    if (withToc)
        std::copy(fields.toc.begin(), fields.toc.end(),
                  frame.begin() + static_cast<std::ptrdiff_t>(xing + 16));
    const std::size_t lame = xing + kXingBytes - (withToc ? 0 : kTocBytes);
    // GStreamer reads delay and padding only under an encoder name that begins with "LAME".
    constexpr std::string_view kEncoder = "LAME";
    std::copy(kEncoder.begin(), kEncoder.end(), frame.begin() + static_cast<std::ptrdiff_t>(lame));
    frame[lame + 9] = constant ? 0x01 : 0x00; // tag revision 0, CBR or unknown
    PutBigEndian(frame, lame + 21, (fields.delay << 12) | fields.padding, 3);
    PutBigEndian(frame, lame + 28, fields.bytes);
    ProtectSideInformation(frame, parsed);
    PutBigEndian(frame, lame + 34, LameCrc(std::span(frame).first(lame + 34)), 2);
    return frame;
}

// The frames of the piece as the source holds them, with their headers read where needed.
class SourceFrameWindow {
public:
    SourceFrameWindow(const FrameIndex& frames, int fd, std::int64_t from, std::int64_t to)
        : frames_(frames), from_(from), bytes_(ReadAt(fd, from, to - from)) {}

    // The bytes of frame `frame` up to `count`, or fewer where the window ends.
    [[nodiscard]] std::span<const std::uint8_t> frame(std::size_t frame, std::size_t count) const {
        const std::int64_t at = frames_.frameOffset(frame) - from_;
        if (at < 0 || at >= std::ssize(bytes_))
            return {};
        return std::span(bytes_).subspan(
            static_cast<std::size_t>(at),
            std::min(count, bytes_.size() - static_cast<std::size_t>(at)));
    }

private:
    const FrameIndex& frames_;
    std::int64_t from_;
    Bytes bytes_;
};

// Where a Layer III frame's main data begins, in bytes before its header (main_data_begin).
std::int64_t MainDataBegin(std::span<const std::uint8_t> frame, const FrameHeader& header) {
    const std::size_t at = 4 + CrcBytes(header);
    if (header.version == 3)
        return (std::int64_t{frame[at]} << 1) | (frame[at + 1] >> 7);
    return frame[at];
}

// The bit reservoir the copied frames (from `first` on) reach back for before `first`'s header:
// the last main-data bytes of the frames before it. Empty when they reach for none.
std::optional<Bytes> ReservoirBefore(const SourceFrameWindow& window, std::size_t first,
                                     std::size_t last, const FrameHeader& stream) {
    const std::size_t overhead = 4 + CrcBytes(stream) + SideInfoBytes(stream);
    const std::int64_t farthest = stream.version == 3 ? kReservoirMpeg1 : kReservoirMpeg2;
    std::int64_t reach = 0;
    std::int64_t between = 0; // main-data bytes from `first`'s header to frame k's
    for (std::size_t k = first; k <= last && between < farthest; ++k) {
        const auto bytes = window.frame(k, overhead);
        const auto header = ParseHeader(bytes);
        if (bytes.size() < overhead || !header || !SameStream(*header, stream))
            return std::nullopt;
        reach = std::max(reach, MainDataBegin(bytes, *header) - between);
        between += static_cast<std::int64_t>(header->length) - static_cast<std::int64_t>(overhead);
    }
    Bytes reservoir(static_cast<std::size_t>(reach), 0);
    auto missing = static_cast<std::size_t>(reach);
    for (std::size_t k = first; k-- > 0 && missing > 0;) {
        const auto head = window.frame(k, 4);
        const auto header = ParseHeader(head);
        if (!header || !SameStream(*header, stream))
            break;
        const auto bytes = window.frame(k, header->length);
        if (bytes.size() < header->length)
            break;
        const auto mainData = bytes.subspan(std::min<std::size_t>(overhead, bytes.size()));
        const std::size_t taken = std::min(missing, mainData.size());
        std::copy(mainData.end() - static_cast<std::ptrdiff_t>(taken), mainData.end(),
                  reservoir.begin() + static_cast<std::ptrdiff_t>(missing - taken));
        missing -= taken;
    }
    return reservoir; // where the source itself lacks bytes, zeros stand for them
}

// The frames copied before the one that plays at the Start mark. Its first samples come out of
// the filterbank with the 15 time slots before them, which a decoder computes with the overlap of
// the granule before those: one frame of two granules (MPEG-1 Layer III), or two frames of one
// granule (MPEG-2 and 2.5), or of 12 slots (Layer I). Layer II's 36 slots need one.
std::size_t FramesBefore(std::uint32_t samplesPerFrame) {
    return samplesPerFrame == 1152 ? 1 : 2;
}

// The first frame copied for a piece whose first sample plays in frame `frame`.
std::size_t FirstCopied(const FrameIndex& frames, std::size_t frame) {
    const FrameIndex::Run& run = frames.runOf(frame);
    return frame - std::min(frame - run.firstFrame, FramesBefore(run.samplesPerFrame));
}

} // namespace

std::int64_t PieceBegin(const FrameIndex& frames, double startSeconds) {
    const auto at = frames.FrameAt(startSeconds);
    if (at.frame >= frames.frameCount())
        return frames.audioEnd();
    return frames.frameOffset(FirstCopied(frames, at.frame));
}

std::optional<PieceLayout> LayOutPiece(const FrameIndex& frames, const std::string& sourcePath,
                                       double startSeconds, double endSeconds) {
    if (!frames.hasAudio())
        return std::nullopt;
    const std::size_t count = frames.frameCount();
    const auto start = frames.FrameAt(startSeconds);
    if (start.frame >= count)
        return std::nullopt;
    const FrameIndex::Run& run = frames.runOf(start.frame);
    const std::size_t first = FirstCopied(frames, start.frame);
    const std::int64_t perFrame = run.samplesPerFrame;
    const auto inRun = [&](std::size_t frame, std::uint32_t sample) {
        return static_cast<std::int64_t>(frame - run.firstFrame) * perFrame + sample;
    };

    // Samples counted from the run's first decoded sample. The source's own end is the sample
    // after the last one the player plays (before the declared padding; files joined end to end
    // play the last one's); an End past it means that end.
    const bool runsToTheEnd = frames.runOf(count - 1).firstFrame == run.firstFrame;
    const auto lastPlayed = frames.FrameAt(frames.durationSeconds() - 0.5 / run.sampleRate);
    const std::int64_t sourceEnd =
        std::min(inRun(lastPlayed.frame, lastPlayed.sample) + 1, inRun(count, 0));
    const auto end = frames.FrameAt(endSeconds);
    // A piece never spans a change of stream.
    if (end.frame < count ? frames.runOf(end.frame).firstFrame != run.firstFrame : !runsToTheEnd)
        return std::nullopt;
    const std::int64_t startSample = inRun(start.frame, start.sample);
    const std::int64_t endSample = runsToTheEnd && end.frame < count
                                       ? std::min(inRun(end.frame, end.sample), sourceEnd)
                                   : end.frame < count ? inRun(end.frame, end.sample)
                                                       : sourceEnd;
    if (endSample <= startSample)
        return std::nullopt;
    const std::size_t last = run.firstFrame + static_cast<std::size_t>((endSample - 1) / perFrame);
    if (last >= count)
        return std::nullopt;

    const Descriptor source(
        ::open(PathFromText(sourcePath).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!source)
        return std::nullopt;
    const std::int64_t firstOffset = frames.frameOffset(first);
    const SourceFrameWindow window(frames, source.get(),
                                   std::max(frames.audioBegin(), firstOffset - kWindowBack),
                                   std::min(frames.audioEnd(), firstOffset + kWindowAhead));
    const auto firstBytes = window.frame(first, 4);
    const auto stream = ParseHeader(firstBytes);
    // A free-format stream's frames are as long as the distance between their headers: a head of
    // frames of other lengths would change what the player's parser makes of them.
    if (!stream || stream->bitrate == 0)
        return std::nullopt;
    const std::array<std::uint8_t, 4> streamHeader{firstBytes[0], firstBytes[1], firstBytes[2],
                                                   firstBytes[3]};

    const Bytes lastHeader = ReadAt(source.get(), frames.frameOffset(last), 4);
    const auto lastParsed = ParseHeader(lastHeader);
    // A piece never spans a change of stream, and the frame on which the stream changes still
    // belongs to the run before it.
    if (!lastParsed || !SameStream(*lastParsed, *stream))
        return std::nullopt;
    PieceLayout layout;
    layout.copyBegin = firstOffset;
    layout.copyEnd = std::min(frames.frameOffset(last) + lastParsed->length, frames.audioEnd());

    Bytes reservoir;
    if (stream->layer == 3) {
        auto reached = ReservoirBefore(window, first, last, *stream);
        if (!reached)
            return std::nullopt;
        reservoir = std::move(*reached);
    }
    // Gapless decoders leave out delay + 529 samples: what the frames before the mark play.
    std::int64_t delay = startSample - inRun(first, 0) - kDecoderDelay;
    Bytes silent;
    if (!reservoir.empty() || delay < 0) {
        // Layers I and II have no reservoir; a zero frame of theirs is silent too, but with a CRC
        // it would need the allocation tables to protect: such a rare piece gets no head.
        if (stream->layer != 3 && stream->crc)
            return std::nullopt;
        auto made = SilentFrame(streamHeader, reservoir);
        if (!made)
            return std::nullopt;
        silent = std::move(*made);
        delay += perFrame;
    }
    const std::int64_t padding = inRun(last + 1, 0) - endSample + kDecoderDelay;
    if (delay < 0 || delay > kLargestGaplessField || padding < 0 || padding > kLargestGaplessField)
        return std::nullopt;

    // One bit rate throughout (the silent frame's too) makes the piece CBR: frame lengths differ
    // by the padding slot at most.
    const auto unpadded = ParseHeader(WithBitrate(streamHeader, BitrateIndex(streamHeader)));
    const std::int64_t slot = stream->layer == 1 ? 4 : 1;
    bool constant = silent.empty() || SameBitrate(silent, streamHeader);
    for (std::size_t k = first; constant && k <= last; ++k) {
        const std::int64_t length =
            (k == last ? layout.copyEnd : frames.frameOffset(k + 1)) - frames.frameOffset(k);
        constant = length == unpadded->length || length == unpadded->length + slot;
    }

    InfoFields fields;
    fields.constantBitrate = constant;
    const std::size_t pieceFrames = (silent.empty() ? 0 : 1) + (last - first + 1);
    fields.frames = static_cast<std::uint32_t>(pieceFrames);
    fields.delay = static_cast<std::uint32_t>(delay);
    fields.padding = static_cast<std::uint32_t>(padding);
    // The information frame's length is known before its contents: its header decides it.
    const auto infoLength = [&]() -> std::optional<std::int64_t> {
        const auto probe = InformationFrame(streamHeader, fields);
        return probe ? std::optional<std::int64_t>(std::ssize(*probe)) : std::nullopt;
    }();
    if (!infoLength)
        return std::nullopt;
    const std::int64_t copied = layout.copyEnd - layout.copyBegin;
    const std::int64_t total = *infoLength + std::ssize(silent) + copied;
    fields.bytes = static_cast<std::uint32_t>(total);
    // The TOC: for each hundredth of the piece's time, where its frame begins, in 256ths of the
    // bytes from the information frame on.
    for (std::size_t percent = 0; percent < fields.toc.size(); ++percent) {
        const std::size_t frame = percent * pieceFrames / 100;
        std::int64_t at = *infoLength;
        if (silent.empty() || frame > 0)
            at += std::ssize(silent) +
                  frames.frameOffset(first + frame - (silent.empty() ? 0 : 1)) - firstOffset;
        fields.toc[percent] =
            static_cast<std::uint8_t>(std::min<std::int64_t>(255, at * 256 / total));
    }
    auto information = InformationFrame(streamHeader, fields);
    if (!information)
        return std::nullopt;

    layout.head = TextTag(source.get());
    layout.head.insert(layout.head.end(), information->begin(), information->end());
    layout.head.insert(layout.head.end(), silent.begin(), silent.end());
    return layout;
}

} // namespace quavera
