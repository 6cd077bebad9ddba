#include "core/MpegHeader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quavera::mpeg {

std::optional<FrameHeader> ParseHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0)
        return std::nullopt;
    FrameHeader header;
    header.bits = BigEndian32(bytes, 0);
    header.version = (bytes[1] >> 3) & 0x3;
    const int layerBits = (bytes[1] >> 1) & 0x3;
    const int bitrateIndex = (bytes[2] >> 4) & 0xF;
    const int rateIndex = (bytes[2] >> 2) & 0x3;
    if (header.version == 1 || layerBits == 0 || bitrateIndex == 0xF || rateIndex == 3)
        return std::nullopt;
    header.layer = 4 - layerBits;
    header.crc = (bytes[1] & 0x1) == 0;
    header.mono = (bytes[3] >> 6) == 0x3;
    header.padding = ((bytes[2] >> 1) & 0x1) != 0;
    const bool mpeg1 = header.version == 3;

    static constexpr std::array<std::array<std::uint16_t, 15>, 5> kBitrates{{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2 I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2 II, III
    }};
    static constexpr std::array<std::uint32_t, 3> kRates{44100, 48000, 32000};
    const std::size_t table =
        mpeg1 ? static_cast<std::size_t>(header.layer - 1) : (header.layer == 1 ? 3 : 4);
    header.bitrate = kBitrates[table][static_cast<std::size_t>(bitrateIndex)] * 1000u;
    // MPEG-2 halves the rates of MPEG-1, MPEG-2.5 quarters them.
    header.sampleRate = kRates[static_cast<std::size_t>(rateIndex)] >> (mpeg1                 ? 0
                                                                        : header.version == 2 ? 1
                                                                                              : 2);
    header.samples = header.layer == 1 ? 384 : (header.layer == 3 && !mpeg1 ? 576 : 1152);
    header.length = FrameLength(header, header.bitrate);
    return header;
}

std::uint32_t FrameLength(const FrameHeader& header, std::uint32_t bitrate) {
    if (bitrate == 0)
        return 0;
    const std::uint32_t padding = header.padding ? 1 : 0;
    if (header.layer == 1)
        return (12 * bitrate / header.sampleRate + padding) * 4;
    // Half as many samples in an MPEG-2 or 2.5 Layer III frame: half the bytes.
    const std::uint32_t perSecond = header.layer == 3 && header.version != 3 ? 72 : 144;
    return static_cast<std::uint32_t>(std::uint64_t{perSecond} * bitrate / header.sampleRate) +
           padding;
}

std::size_t SideInfoBytes(const FrameHeader& header) {
    if (header.version == 3)
        return header.mono ? 17 : 32;
    return header.mono ? 9 : 17;
}

bool SameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate &&
           a.mono == b.mono;
}

bool SameKind(const FrameHeader& a, const FrameHeader& b) {
    // Sync, version, layer, CRC, sampling rate and the private bit.
    constexpr std::uint32_t kFixed = ~std::uint32_t{0xF000 | 0x200 | 0xF0 | 0xF};
    return (a.bits & kFixed) == (b.bits & kFixed);
}

std::size_t InformationTagOffset(const FrameHeader& header) {
    return 4 + SideInfoBytes(header);
}

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view text, std::size_t at) {
    return bytes.size() >= at + text.size() &&
           std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

std::uint32_t LittleEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::uint32_t{bytes[at + 3]} << 24) | (std::uint32_t{bytes[at + 2]} << 16) |
           (std::uint32_t{bytes[at + 1]} << 8) | bytes[at];
}

std::optional<std::int64_t> SyncSafe(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::int64_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        if (bytes[i] & 0x80)
            return std::nullopt;
        value = (value << 7) | bytes[i];
    }
    return value;
}

bool BeginsAsOtherFormat(std::span<const std::uint8_t> head) {
    static constexpr std::array<std::string_view, 13> kMagic{
        "RIFF", "RIFX",         "OggS",
        "fLaC", "\xFF\xD8\xFF", "\x89PNG",
        "GIF8", "FORM",         "\x30\x26\xB2\x75",
        "MThd", "#!AMR",        "MAC ",
        "wvpk"};
    return std::any_of(kMagic.begin(), kMagic.end(),
                       [&](std::string_view magic) { return StartsWith(head, magic); }) ||
           StartsWith(head, "ftyp", 4);
}

} // namespace quavera::mpeg
