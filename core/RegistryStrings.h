#pragma once

#include "interfaces/KeyValueStore.h"

#include <cstdint>
#include <string>

namespace quavera {

// Our own status for a call made with an empty key path; every other status is a store code.
inline constexpr std::int32_t kEmptyKeyPathError = -1002;

// String values of the key-value store, read and written the way the program always has: texts
// are stored as their UTF-8 bytes plus one NUL, and every call leaves its outcome in
// LastRegError() instead of failing. No key stays open between calls.
class RegistryStrings {
public:
    explicit RegistryStrings(KeyValueStore& store) : store_(store) {}

    // The value's text, or empty text when it is missing, unreadable or empty.
    std::string RegReadString(StoreRoot root, const std::string& keyPath,
                              const std::string& valueName);
    // Creates or replaces the value in an existing key; a missing key gets nothing written.
    void RegWriteString(StoreRoot root, const std::string& keyPath, const std::string& valueName,
                        const std::string& value);

    // Status of the latest read or write: 0, kEmptyKeyPathError, or the store's code. Once a
    // key was opened it holds the result of closing it.
    [[nodiscard]] std::int32_t LastRegError() const { return lastRegError_; }

    // Machine-wide marker that the first-run question has been asked.
    std::string ReadFirstRunMarker();
    void WriteFirstRunMarker(const std::string& value);
    // Records the start page for the current user. It stays in our store: no browser reads it.
    void SetBrowserStartPage(const std::string& address);

private:
    KeyValueStore& store_;
    std::int32_t lastRegError_ = 0;
};

} // namespace quavera
