#include "core/SourceCheck.h"

#include "core/PathText.h"

#include <filesystem>
#include <limits>
#include <system_error>

namespace quavera {

SourceCheck CheckSource(const std::string& pathText) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(PathFromText(pathText), error);
    if (pathText.empty() || error)
        return {SourceKind::Unreadable};
    if (fs::is_directory(status))
        return {SourceKind::Folder};
    if (fs::is_other(status))
        return {SourceKind::Special};
    const std::uintmax_t length = fs::file_size(PathFromText(pathText), error);
    if (error)
        return {SourceKind::Unreadable};
    if (length > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max()))
        return {SourceKind::TooLarge};
    return {SourceKind::File, static_cast<std::int32_t>(length)};
}

} // namespace quavera
