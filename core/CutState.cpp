#include "core/CutState.h"

namespace quavera {

std::string PartFileName(const CutState& state, int index) {
    return state.DestDir + kPartNamePrefix + std::to_string(index) + state.SourceName;
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace quavera
