#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <unistd.h>
#include <utility>

namespace quavera {

// An open file descriptor, closed when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// Reads `count` bytes at `offset` into `into` through interruptions and short reads; fewer only
// where the file ends or a read fails. Returns how many it read.
inline std::size_t ReadFully(int fd, void* into, std::size_t count, std::int64_t offset) {
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got = ::pread(fd, static_cast<char*>(into) + filled, count - filled,
                                    offset + static_cast<std::int64_t>(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    return filled;
}

} // namespace quavera
