#pragma once

#include "core/FrameIndex.h"

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
    SourceFrames() = default;
    SourceFrames(const SourceFrames&) = delete;
    SourceFrames& operator=(const SourceFrames&) = delete;
    ~SourceFrames();

    // Starts reading `pathText` in the background; a reading still under way for another file
    // is stopped.
    void Prepare(const std::string& pathText);
    // The index of the file as it is now. Waits for a reading under way; reads the file here when
    // it was not prepared or has changed since. Nothing when the path names no regular file.
    [[nodiscard]] std::shared_ptr<const FrameIndex> For(const std::string& pathText);

private:
    void stopReading();

    std::string pendingPath_;
    std::future<FrameIndex> pending_;
    std::jthread reader_;
    std::string readyPath_;
    std::shared_ptr<const FrameIndex> ready_;
};

} // namespace quavera
