#pragma once

#include "core/FileIdentity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quavera {

// What a cut carries from command to command; it belongs to the main window.
struct CutState {
    std::vector<std::int32_t> PartSizes; // bytes of each planned part, in source order
    std::int32_t SourceSize = 0;         // bytes of the chosen source
    std::int16_t LastPart = 0;           // index of the last planned part, -1 for none
    std::string SourceName;              // file name of the most recent cut's source
    std::string SourcePath;              // source path of the most recent cut
    std::string DestDir;                 // destination folder of the most recent cut, ends in "/"
};

// Values that live for the whole run, shared by the main and preview windows.
struct ProgramState {
    double MediaDuration = 0.0;
    double SourceSizeKB = 0.0;
    std::string StartMark;
    std::string EndMark;
    std::string PreviewFile;
    // The piece at PreviewFile as the cut wrote it: the preview deletes nothing else.
    std::optional<FileIdentity> PreviewIdentity;
};

inline constexpr char kPartNamePrefix[] = "[铃声]";

// DestDir + "[铃声]" + index + SourceName, joined with nothing between them.
[[nodiscard]] std::string PartFileName(const CutState& state, int index);

// The text after the last "/", or the whole text when it holds none.
[[nodiscard]] std::string FileNameOf(const std::string& path);

// The text up to and including the last "/", or empty text when it holds none.
[[nodiscard]] std::string FolderOf(const std::string& path);

} // namespace quavera
