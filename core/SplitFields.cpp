#include "core/SplitFields.h"

#include <stdexcept>

namespace quavera {

namespace {

// Byte length of the first `maxCharacters` UTF-8 characters of `text`. A byte that is not a
// continuation byte starts a character, so a cut never splits one.
std::size_t PrefixBytes(std::string_view text, std::size_t maxCharacters) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (startsCharacter && characters++ == maxCharacters)
            return i;
    }
    return text.size();
}

void CheckIndex(int index) {
    if (index < 0 || index >= SplitFields::kCount)
        throw std::out_of_range("size field index out of range");
}

} // namespace

SplitFields::SplitFields() {
    texts_.fill("0");
}

const std::string& SplitFields::text(int index) const {
    CheckIndex(index);
    return texts_[static_cast<std::size_t>(index)];
}

void SplitFields::setText(int index, std::string_view text) {
    CheckIndex(index);
    const std::string_view kept = text.substr(0, PrefixBytes(text, kMaxLength));
    std::string& field = texts_[static_cast<std::size_t>(index)];
    if (field == kept)
        return;
    field = kept;
    notify();
}

void SplitFields::setLocked(bool locked) {
    if (locked_ == locked)
        return;
    locked_ = locked;
    notify();
}

void SplitFields::notify() const {
    if (changed)
        changed();
}

void LockSplitFields(SplitFields& fields, bool locked) {
    fields.setLocked(locked);
}

} // namespace quavera
