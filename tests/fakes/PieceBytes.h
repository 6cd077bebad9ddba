#pragma once

#include "core/MpegHeader.h"

#include <QByteArray>
#include <span>

namespace quavera::testing {

// Whether `kept` is a piece whose audio is exactly `audio`, copied after a head of the piece's
// own: a text tag where the source has one, then an information frame, whose "Xing" or "Info"
// stands right after its header and side information (13, 21 or 36 bytes in).
inline bool IsPieceOf(const QByteArray& kept, const QByteArray& audio) {
    if (kept.size() <= audio.size() || !kept.endsWith(audio))
        return false;
    const QByteArray head = kept.left(kept.size() - audio.size());
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(head.constData()),
                          static_cast<std::size_t>(head.size()));
    const qsizetype frame = head.startsWith("ID3") ? 10 + mpeg::SyncSafe(bytes, 6).value_or(0) : 0;
    for (const qsizetype tag : {13, 21, 36}) {
        const QByteArray id = head.mid(frame + tag, 4);
        if (id == "Xing" || id == "Info")
            return true;
    }
    return false;
}

} // namespace quavera::testing
