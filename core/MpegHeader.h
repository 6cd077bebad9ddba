#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// Reading the bytes of MPEG audio files: frame headers, tag sizes, the magic of other formats.
namespace quavera::mpeg {

struct FrameHeader {
    std::uint32_t bits = 0; // the four bytes, big-endian
    int version = 0;        // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    int layer = 0;          // 1 to 3
    bool crc = false;
    bool mono = false;
    bool padding = false;
    std::uint32_t sampleRate = 0;
    std::uint32_t bitrate = 0; // bits a second; 0 in a free-format frame
    std::uint32_t length = 0;  // bytes, header included; 0 in a free-format frame
    std::uint32_t samples = 0;
};

// The frame header in the first four bytes; nothing for reserved values. A free-format header
// (bit rate index 0) is a header whose length comes from its stream's rate (FrameLength).
[[nodiscard]] std::optional<FrameHeader> ParseHeader(std::span<const std::uint8_t> bytes);
// The length of a frame of this kind at `bitrate`, header included, rounded as decoders do.
[[nodiscard]] std::uint32_t FrameLength(const FrameHeader& header, std::uint32_t bitrate);
// Bytes of Layer III side information after the header (and CRC).
[[nodiscard]] std::size_t SideInfoBytes(const FrameHeader& header);
// Frames of one stream as the player's parser sees it: same version, layer, sampling rate and
// channel count; any change starts a new stream.
[[nodiscard]] bool SameStream(const FrameHeader& a, const FrameHeader& b);
// Headers that may follow each other when sync is sought: all but bit rate, padding, channel
// mode, copyright and emphasis agree (GStreamer's parser asks the same).
[[nodiscard]] bool SameKind(const FrameHeader& a, const FrameHeader& b);
// Where LAME and GStreamer look for the Xing or Info tag: past the header and the side
// information, whether or not a CRC follows the header.
[[nodiscard]] std::size_t InformationTagOffset(const FrameHeader& header);

[[nodiscard]] bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view text,
                              std::size_t at = 0);
[[nodiscard]] std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes, std::size_t at);
[[nodiscard]] std::uint32_t LittleEndian32(std::span<const std::uint8_t> bytes, std::size_t at);
// Four bytes of seven bits each, as ID3v2 writes its sizes; nothing when a high bit is set.
[[nodiscard]] std::optional<std::int64_t> SyncSafe(std::span<const std::uint8_t> bytes,
                                                   std::size_t at);
// Files that begin as another format: the player's type finding takes them for that format even
// where MPEG frames are embedded further on.
[[nodiscard]] bool BeginsAsOtherFormat(std::span<const std::uint8_t> head);

} // namespace quavera::mpeg
