#include "ui/WrappingButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace quavera {

void WrappingButton::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    // The style draws the button without its caption; the caption follows, wrapped.
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);

    const QRect captionArea = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    if (style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this) == 0) {
        flags |= Qt::TextHideMnemonic;
    }
    style()->drawItemText(&painter, captionArea, flags, option.palette, isEnabled(), caption,
                          QPalette::ButtonText);
}

} // namespace quavera
