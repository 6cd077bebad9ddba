#pragma once

#include "core/FrameIndex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quavera {

// What the kept piece holds: a head of its own, then the source's bytes from copyBegin up to
// copyEnd, whole frames copied as they are.
//
// The head is an ID3v2 tag with the source's text frames (never its picture), an information
// frame (Info for a constant bit rate, Xing otherwise) whose LAME extension declares the delay
// and padding that make a gapless decoder play exactly from the Start mark to the End mark, and,
// where needed, one silent frame whose main-data area ends with the bit reservoir the first
// copied frames reach back for. The copy begins a frame or two before the frame that plays at
// the Start mark: their overlap and filterbank history make the first kept samples whole, and
// what they play lies inside the declared delay.
struct PieceLayout {
    std::vector<std::uint8_t> head;
    std::int64_t copyBegin = 0;
    std::int64_t copyEnd = 0;
};

// Where the copy of a piece that starts at `startSeconds` on the player's clock begins: a frame or
// two before the one that plays then (at the very start, the first frame). Needs audio.
[[nodiscard]] std::int64_t PieceBegin(const FrameIndex& frames, double startSeconds);

// Lays out the piece from `startSeconds` to `endSeconds` on the player's clock (an end past the
// audio means its end), reading the source's tag and the frames around the start. Nothing when
// the marks hold no sample between them, the piece spans a change of stream, the stream is in
// free format, or the source cannot be read; the cut then copies the whole frames between the
// marks without a head.
[[nodiscard]] std::optional<PieceLayout> LayOutPiece(const FrameIndex& frames,
                                                     const std::string& sourcePath,
                                                     double startSeconds, double endSeconds);

} // namespace quavera
