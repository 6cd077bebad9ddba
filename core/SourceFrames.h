#pragma once

#include "core/FrameIndex.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace quavera {

// The frame index of the chosen source. It is read on a thread of its own as soon as the source
// is chosen, so that the window never waits for the file, and read again whenever the file on
// disk is no longer the one that was indexed.
class SourceFrames {
public:
    using Reader = std::function<FrameIndex(const std::string& pathText, std::stop_token stop)>;

    // `read` indexes a file; the program reads it with FrameIndex::Read.
    explicit SourceFrames(Reader read = &FrameIndex::Read) : read_(std::move(read)) {}
    SourceFrames(const SourceFrames&) = delete;
    SourceFrames& operator=(const SourceFrames&) = delete;
    ~SourceFrames();

    // Starts reading `pathText` in the background; a reading still under way for another file
    // is stopped.
    void Prepare(const std::string& pathText);
    // The index of the file as it is now. Waits for a reading under way; reads the file here when
    // it was not prepared or has changed since. Nothing when the path names no regular file.
    [[nodiscard]] std::shared_ptr<const FrameIndex> For(const std::string& pathText);
    // Whether the reading of `pathText` begun by Prepare is still under way after waiting for it
    // at most `wait`.
    [[nodiscard]] bool Reading(const std::string& pathText,
                               std::chrono::milliseconds wait = std::chrono::milliseconds(0)) const;

private:
    void stopReading();

    Reader read_;
    std::string pendingPath_;
    std::future<FrameIndex> pending_;
    std::jthread reader_;
    std::string readyPath_;
    std::shared_ptr<const FrameIndex> ready_;
};

} // namespace quavera
