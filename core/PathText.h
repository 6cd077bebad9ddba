#pragma once

#include <filesystem>
#include <string>

namespace quavera {

// A path text (UTF-8, as the window holds it) as a file-system path, byte for byte. Nothing in
// it is a pattern: "*" and "?" are ordinary characters.
[[nodiscard]] std::filesystem::path PathFromText(const std::string& text);

// Whether the path text names a folder, or a regular file (through links); empty text names none.
[[nodiscard]] bool IsExistingFolder(const std::string& text);
[[nodiscard]] bool IsExistingFile(const std::string& text);

} // namespace quavera
