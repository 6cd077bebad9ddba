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

std::shared_ptr<const FrameIndex> SourceFrames::For(const std::string& pathText) {
    if (pending_.valid() && pendingPath_ == pathText) {
        ready_ = std::make_shared<const FrameIndex>(pending_.get());
        readyPath_ = pathText;
        stopReading();
    }
    const auto identity = IdentityOf(pathText);
    if (!identity)
        return nullptr;
    if (!ready_ || readyPath_ != pathText || !ready_->complete() ||
        ready_->identity() != *identity) {
        ready_ = std::make_shared<const FrameIndex>(read_(pathText, {}));
        readyPath_ = pathText;
    }
    return ready_;
}

bool SourceFrames::Reading(const std::string& pathText, std::chrono::milliseconds wait) const {
    return pending_.valid() && pendingPath_ == pathText &&
           pending_.wait_for(wait) != std::future_status::ready;
}

} // namespace quavera
