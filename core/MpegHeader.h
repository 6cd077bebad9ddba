#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// Reading the bytes of MPEG audio files: frame headers, tag sizes, the magic of other formats.
namespace quavera::mpeg {

struct FrameHeader {
    int version = 0; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    int layer = 0;   // 1 to 3
    bool crc = false;
    bool mono = false;
    std::uint32_t sampleRate = 0;
    std::uint32_t length = 0; // bytes, header included
    std::uint32_t samples = 0;
};

// The frame header in the first four bytes; nothing for reserved values and for a free-format
// bit rate, which gives no frame length to walk by.
[[nodiscard]] std::optional<FrameHeader> ParseHeader(std::span<const std::uint8_t> bytes);
// Bytes of Layer III side information after the header (and CRC); where readers look for the
// Xing or Info tag of any layer, after the header.
[[nodiscard]] std::size_t SideInfoBytes(const FrameHeader& header);
// Frames of one stream: same version, layer and sampling rate.
[[nodiscard]] bool SameStream(const FrameHeader& a, const FrameHeader& b);

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
