#include "core/RegistryStrings.h"

#include <cstddef>
#include <vector>

namespace quavera {

namespace {

constexpr char kMarkerKeyPath[] = "SOFTWARE\\Microsoft";
constexpr char kStartPageKeyPath[] = "Software\\Microsoft\\Internet Explorer\\Main";
constexpr char kStartPageValueName[] = "Start Page";

// The first query only learns the data's size; this much room is offered for it.
constexpr std::size_t kSizeProbeBytes = 4;

} // namespace

std::string RegistryStrings::RegReadString(StoreRoot root, const std::string& keyPath,
                                           const std::string& valueName) {
    lastRegError_ = store_code::Success;
    std::string result;
    if (keyPath.empty()) {
        lastRegError_ = kEmptyKeyPathError;
        return result;
    }

    KeyValueStore::Handle handle = 0;
    lastRegError_ = store_.openKey(root, keyPath, handle);
    if (lastRegError_ != store_code::Success) {
        return result;
    }

    std::vector<std::uint8_t> sizeProbe(kSizeProbeBytes);
    std::uint32_t size = 0;
    lastRegError_ = store_.queryValue(handle, valueName, sizeProbe, size);

    // Fewer than two bytes hold no character before the terminating NUL.
    if (size < 2) {
        lastRegError_ = store_.closeKey(handle);
        return result;
    }

    std::vector<std::uint8_t> dataArea(static_cast<std::size_t>(size) + 1, ' ');
    std::uint32_t dataSize = size;
    lastRegError_ = store_.queryValue(handle, valueName, dataArea, dataSize);
    if (lastRegError_ == store_code::Success && dataSize >= 1 && dataSize <= dataArea.size()) {
        // Counted in bytes, so a multi-byte character is never cut before the conversion.
        const auto textEnd = dataArea.begin() + static_cast<std::ptrdiff_t>(dataSize - 1);
        result.assign(dataArea.begin(), textEnd);
    }

    lastRegError_ = store_.closeKey(handle);
    return result;
}

void RegistryStrings::RegWriteString(StoreRoot root, const std::string& keyPath,
                                     const std::string& valueName, const std::string& value) {
    lastRegError_ = store_code::Success;
    if (keyPath.empty()) {
        lastRegError_ = kEmptyKeyPathError;
        return;
    }

    KeyValueStore::Handle handle = 0;
    lastRegError_ = store_.openKey(root, keyPath, handle);
    if (lastRegError_ != store_code::Success) {
        return;
    }

    // Empty text is stored as no bytes at all, not even the NUL.
    std::vector<std::uint8_t> data(value.begin(), value.end());
    if (!value.empty()) {
        data.push_back(0);
    }
    lastRegError_ = store_.setValue(handle, valueName, data);

    lastRegError_ = store_.closeKey(handle);
}

std::string RegistryStrings::ReadFirstRunMarker() {
    return RegReadString(StoreRoot::LocalMachine, kMarkerKeyPath, "mp");
}

void RegistryStrings::WriteFirstRunMarker(const std::string& value) {
    // Value names ignore case: "MP" is the same value as the "mp" that is read.
    RegWriteString(StoreRoot::LocalMachine, kMarkerKeyPath, "MP", value);
}

void RegistryStrings::SetBrowserStartPage(const std::string& address) {
    RegWriteString(StoreRoot::CurrentUser, kStartPageKeyPath, kStartPageValueName, address);
}

} // namespace quavera
