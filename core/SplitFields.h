#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace quavera {

// The three size fields txtSplit(0..2): sizes in KB as text, at most eight characters each,
// and their shared read-only state. The window mirrors them through `changed`.
class SplitFields {
public:
    static constexpr int kCount = 3;
    static constexpr std::size_t kMaxLength = 8; // characters, not bytes

    SplitFields();

    [[nodiscard]] const std::string& text(int index) const;
    // Keeps the first eight characters of `text`; the rest is dropped without an error.
    void setText(int index, std::string_view text);

    [[nodiscard]] bool locked() const { return locked_; }
    void setLocked(bool locked);

    // Called after every change of a text or of the read-only state; setting a field to the
    // text it already holds is no change.
    std::function<void()> changed;

private:
    void notify() const;

    std::array<std::string, kCount> texts_;
    bool locked_ = false;
};

// Makes the three size fields read-only (true) or editable again (false).
void LockSplitFields(SplitFields& fields, bool locked);

} // namespace quavera
