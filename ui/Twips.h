#pragma once

#include <QRect>

namespace quavera {

// Window layouts are measured in twips: 1/1440 inch, 15 of them to a pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

[[nodiscard]] constexpr int TwipsToPixels(int twips) {
    return twips / kTwipsPerPixel;
}

[[nodiscard]] constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

} // namespace quavera
