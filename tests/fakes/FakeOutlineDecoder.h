#pragma once

#include "adapters/WaveformReader.h"

#include <QString>
#include <array>
#include <deque>
#include <memory>
#include <vector>

namespace quavera::testing {

// A decoder the test feeds by hand. Every buffer is one second of the medium at one loudness.
class FakeOutlineDecoder final : public OutlineDecoder {
public:
    // What the decoders of one reader did; `current` is the one reading now, if any.
    struct Log {
        std::vector<QString> started;
        int stops = 0;
        FakeOutlineDecoder* current = nullptr;
    };

    explicit FakeOutlineDecoder(Log* log) : log_(log) {}
    ~FakeOutlineDecoder() override {
        if (log_->current == this) {
            log_->current = nullptr;
        }
    }
    FakeOutlineDecoder(const FakeOutlineDecoder&) = delete;
    FakeOutlineDecoder& operator=(const FakeOutlineDecoder&) = delete;

    static OutlineDecoderFactory factory(Log* log) {
        return [log] { return std::make_unique<FakeOutlineDecoder>(log); };
    }

    void start(const OutlineSource& source) override {
        log_->started.push_back(source.path);
        log_->current = this;
        decoded_ = source.startSeconds;
    }
    void stop() override { ++log_->stops; }
    [[nodiscard]] bool bufferAvailable() const override { return !queue_.empty(); }
    std::optional<double> takeBuffer(WaveformPeaks& peaks) override {
        if (queue_.empty()) {
            return std::nullopt;
        }
        const std::array<float, 2> samples{queue_.front(), -queue_.front()};
        queue_.pop_front();
        peaks.add(decoded_, 2.0, 1, samples.data(), samples.size(), 1.0f);
        decoded_ += 1.0;
        return decoded_;
    }

    // Decodes one more second and announces it.
    void decode(float loudness) {
        queue_.push_back(loudness);
        emit bufferReady();
    }

private:
    Log* log_;
    std::deque<float> queue_;
    double decoded_ = 0;
};

} // namespace quavera::testing
