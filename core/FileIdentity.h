#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quavera {

// What tells one state of a file from another: a file replaced, rewritten or truncated since it
// was last seen differs in one of these.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of a regular file; nothing for anything else or a path that cannot be read.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::string& pathText);

} // namespace quavera
