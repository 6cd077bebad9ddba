#include "core/SourceFrames.h"

#include <utility>

namespace quavera {

SourceFrames::~SourceFrames() {
    stopReading();
}

void SourceFrames::stopReading() {
    reader_.request_stop();
    if (reader_.joinable())
        reader_.join();
    pending_ = {};
    pendingPath_.clear();
}

void SourceFrames::Prepare(const std::string& pathText) {
    stopReading();
    if (pathText.empty())
        return;
    std::packaged_task<FrameIndex(std::stop_token)> task(
        [read = read_, pathText](std::stop_token stop) { return read(pathText, std::move(stop)); });
    pending_ = task.get_future();
    pendingPath_ = pathText;
    reader_ = std::jthread(std::move(task));
}

void SourceFrames::collect() {
    if (!pending_.valid() ||
        pending_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    ready_ = std::make_shared<const FrameIndex>(pending_.get());
    readyPath_ = pendingPath_;
    stopReading();
}

std::shared_ptr<const FrameIndex> SourceFrames::tryGet(const std::string& pathText) {
    collect();
    const auto identity = IdentityOf(pathText);
    if (!identity)
        return nullptr;
    if (ready_ && readyPath_ == pathText && ready_->complete() && ready_->identity() == *identity)
        return ready_;
    if (!reading(pathText))
        Prepare(pathText);
    return nullptr;
}

bool SourceFrames::reading(const std::string& pathText) const {
    return pending_.valid() && pendingPath_ == pathText;
}

bool SourceFrames::finished(const std::string& pathText) const {
    if (reading(pathText))
        return pending_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    return ready_ && readyPath_ == pathText;
}

std::shared_ptr<const FrameIndex>
SourceFrames::waitFor(const std::string& pathText,
                      std::optional<std::chrono::milliseconds> longest) {
    if (auto frames = tryGet(pathText))
        return frames;
    if (!reading(pathText))
        return nullptr;
    if (longest) {
        if (pending_.wait_for(*longest) != std::future_status::ready)
            return nullptr;
    } else {
        pending_.wait();
    }
    collect();
    // The file as it was read, even when it changed again meanwhile: the next call reads it anew.
    return readyPath_ == pathText ? ready_ : nullptr;
}

} // namespace quavera
