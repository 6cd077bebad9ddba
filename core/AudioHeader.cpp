#include "core/AudioHeader.h"

#include "core/PathText.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quavera {

namespace {

constexpr std::size_t kHeaderBytes = 4;

bool IsId3v2Tag(const std::array<std::uint8_t, kHeaderBytes>& bytes) {
    return bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
}

// Eleven sync bits, then a version, layer, bitrate and sampling rate that are not reserved.
bool IsMpegAudioFrameHeader(const std::array<std::uint8_t, kHeaderBytes>& bytes) {
    const bool sync = bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0;
    const int version = (bytes[1] >> 3) & 0x3;
    const int layer = (bytes[1] >> 1) & 0x3;
    const int bitrate = (bytes[2] >> 4) & 0xF;
    const int samplingRate = (bytes[2] >> 2) & 0x3;
    return sync && version != 1 && layer != 0 && bitrate != 0xF && samplingRate != 3;
}

} // namespace

bool StartsAsMp3Audio(const std::string& pathText) {
    const std::filesystem::path path = PathFromText(pathText);
    std::error_code error;
    if (pathText.empty() || !std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::array<char, kHeaderBytes> read{};
    if (!file.read(read.data(), read.size())) {
        return false;
    }
    std::array<std::uint8_t, kHeaderBytes> bytes{};
    for (std::size_t index = 0; index < kHeaderBytes; ++index) {
        bytes[index] = static_cast<std::uint8_t>(read[index]);
    }
    return IsId3v2Tag(bytes) || IsMpegAudioFrameHeader(bytes);
}

} // namespace quavera
