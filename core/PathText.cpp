#include "core/PathText.h"

namespace quavera {

std::filesystem::path PathFromText(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

bool IsExistingFolder(const std::string& text) {
    std::error_code error;
    return !text.empty() && std::filesystem::is_directory(PathFromText(text), error);
}

bool IsExistingFile(const std::string& text) {
    std::error_code error;
    return !text.empty() && std::filesystem::is_regular_file(PathFromText(text), error);
}

} // namespace quavera
