#pragma once

#include <optional>
#include <string>

namespace quavera {

// Modal file-open dialog. Returns the confirmed path, or nothing when the user cancels.
class FileOpenDialog {
public:
    virtual ~FileOpenDialog() = default;
    // filter: "description|pattern", for example "MP3音频文件|*.mp3".
    virtual void setFilter(const std::string& filter) = 0;
    [[nodiscard]] virtual std::optional<std::string> showOpen() = 0;
};

// Modal folder chooser owned by the main window, starting at the top of the file system.
// Returns the confirmed folder's path, or nothing when the user cancels.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    [[nodiscard]] virtual std::optional<std::string> browseForFolder(const std::string& prompt) = 0;
};

} // namespace quavera
