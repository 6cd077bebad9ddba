#pragma once

#include "core/FrameIndex.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace quavera {

// The frame index of the chosen source. It is read on a thread of its own as soon as the source
// is chosen, so that the window never waits for the file, and read again there whenever the file
// on disk is no longer the one that was indexed. A finished answer, "no audio" included, is kept.
class SourceFrames {
public:
    using Reader = std::function<FrameIndex(const std::string& pathText, std::stop_token stop)>;

    // `read` indexes a file; the program reads it with FrameIndex::Read.
    explicit SourceFrames(Reader read = &FrameIndex::Read) : read_(std::move(read)) {}
    SourceFrames(const SourceFrames&) = delete;
    SourceFrames& operator=(const SourceFrames&) = delete;
    ~SourceFrames();

    // Starts reading `pathText` on the index's thread; a reading under way for another file is
    // stopped.
    void Prepare(const std::string& pathText);
    // The index of the file as it is now, when it is at hand; never waits and never reads the
    // file. When the file was not prepared or has changed since, its reading starts on the
    // index's thread and there is nothing yet. Nothing, too, when the path names no regular file.
    [[nodiscard]] std::shared_ptr<const FrameIndex> tryGet(const std::string& pathText);
    // Whether the index of `pathText` is being read.
    [[nodiscard]] bool reading(const std::string& pathText) const;
    // Whether a reading of `pathText` has finished (its answer may be that the file changed since).
    [[nodiscard]] bool finished(const std::string& pathText) const;
    // As tryGet, but waits for a reading under way, at most `longest` when given: the caller shows
    // the busy pointer meanwhile. Nothing when the wait runs out.
    [[nodiscard]] std::shared_ptr<const FrameIndex>
    waitFor(const std::string& pathText,
            std::optional<std::chrono::milliseconds> longest = std::nullopt);

private:
    void stopReading();
    // Takes a finished reading's index.
    void collect();

    Reader read_;
    std::string pendingPath_;
    std::future<FrameIndex> pending_;
    std::jthread reader_;
    std::string readyPath_;
    std::shared_ptr<const FrameIndex> ready_;
};

} // namespace quavera
