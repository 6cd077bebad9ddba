#pragma once

#include <string>

namespace quavera {

// Whether the file's first bytes open an MP3 stream: an ID3v2 tag or an MPEG audio frame
// header. Only a few bytes of a regular file are read; no frame is parsed beyond its header,
// and anything that is not a regular file (a FIFO would block) counts as no MP3.
[[nodiscard]] bool StartsAsMp3Audio(const std::string& pathText);

} // namespace quavera
