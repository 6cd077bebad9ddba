#pragma once

#include <cstdint>
#include <string>

namespace quavera {

// What a path chosen as the source names, from its status alone: nothing is opened, so a FIFO
// cannot hold the caller.
enum class SourceKind {
    File,      // a regular file the cut can take
    TooLarge,  // a regular file of 2 GiB or more: its size does not fit the cut's 32 bits
    Folder,    // no file: the open dialog cannot choose one either
    Special,   // a FIFO, socket or device: the player would wait on it for ever
    Unreadable // no such file, or its status cannot be read
};

struct SourceCheck {
    SourceKind kind = SourceKind::Unreadable;
    std::int32_t length = 0; // bytes, for a File
};

// The one check every road to a source goes through: the open dialog, the command line and a
// drop. Whether the file holds MP3 audio is the frame index's verdict, read in the background
// and asked for at Start and End.
[[nodiscard]] SourceCheck CheckSource(const std::string& pathText);

} // namespace quavera
