#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quavera {

// The two roots the program uses, with the values of the platform's predefined handles.
enum class StoreRoot : std::uint32_t {
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
};

// Result codes of the store, with the values the registry routines report.
namespace store_code {
inline constexpr std::int32_t Success = 0;
inline constexpr std::int32_t FileNotFound = 2;
inline constexpr std::int32_t AccessDenied = 5;
inline constexpr std::int32_t InvalidHandle = 6;
inline constexpr std::int32_t WriteFault = 29;
inline constexpr std::int32_t MoreData = 234;
} // namespace store_code

// A hierarchical key-value store of byte strings, the stand-in for the registry.
// Key paths and value names compare without regard to case.
class KeyValueStore {
public:
    using Handle = std::uint32_t;

    virtual ~KeyValueStore() = default;

    // Opens an existing key; never creates one.
    virtual std::int32_t openKey(StoreRoot root, const std::string& keyPath, Handle& handle) = 0;
    // `data` is the data area: its size() is the room it offers. When the value's bytes do not
    // fit, reports their count in `size` and returns MoreData; otherwise copies them to the front
    // of `data` and sets `size` to their count. A missing value leaves `size` unchanged and
    // returns FileNotFound.
    virtual std::int32_t queryValue(Handle handle, const std::string& valueName,
                                    std::vector<std::uint8_t>& data, std::uint32_t& size) = 0;
    // Creates or replaces a value with exactly these bytes.
    virtual std::int32_t setValue(Handle handle, const std::string& valueName,
                                  const std::vector<std::uint8_t>& data) = 0;
    virtual std::int32_t closeKey(Handle handle) = 0;
};

} // namespace quavera
