#include "ui/TextFit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace quavera {

namespace {

// Controls of the twips layouts touch or overlap their neighbours by a pixel.
constexpr int kTouching = 2;

struct Placed {
    QWidget* control;
    QRect before;
    QRect after;
};

bool IsWrappingButton(const QWidget& control) {
    return control.inherits("quavera::WrappingButton");
}

// The room a button's caption has inside its bevel, and the caption's size there.
QSize ButtonRoomNeeded(QPushButton& button, const QSize& size) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.rect = QRect(QPoint(0, 0), size);
    option.text = button.text();
    const QRect room =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    const QSize padding = size - room.size();
    const int flags = Qt::TextShowMnemonic | (IsWrappingButton(button) ? Qt::TextWordWrap : 0);
    QSize text = button.fontMetrics().boundingRect(room, flags, button.text()).size();
    if (text.width() > room.width()) {
        text = button.fontMetrics().size(Qt::TextShowMnemonic, button.text());
    }
    return text + padding;
}

// Where the control would need to be for its text to show whole; `rightLimit` is how far right a
// label may widen.
QRect RoomNeeded(QWidget& control, const QRect& place, int rightLimit) {
    QRect needed = place;
    if (auto* label = qobject_cast<QLabel*>(&control)) {
        if (label->text().isEmpty()) {
            return needed;
        }
        const QSize line = label->sizeHint();
        if (!label->wordWrap() && line.width() > place.width()) {
            needed.setWidth(
                std::min(line.width(), std::max(place.width(), rightLimit - place.left())));
        }
        if (!label->wordWrap() && line.width() <= needed.width()) {
            needed.setHeight(std::max(place.height(), line.height()));
        } else {
            label->setWordWrap(true); // wider than the window: the line wraps
            needed.setHeight(std::max(place.height(), label->heightForWidth(needed.width())));
        }
        // A label centred on its place stays centred there: it grows up as much as down.
        if (label->alignment() & Qt::AlignVCenter) {
            needed.moveTop(place.top() - (needed.height() - place.height()) / 2);
        }
        return needed;
    }
    if (auto* button = qobject_cast<QPushButton*>(&control)) {
        const QSize size = ButtonRoomNeeded(*button, place.size());
        needed.setWidth(std::max(place.width(), size.width()));
        needed.setHeight(std::max(place.height(), size.height()));
    }
    return needed;
}

bool SharesRows(const QRect& one, const QRect& other) {
    return one.top() < other.bottom() - kTouching && other.top() < one.bottom() - kTouching;
}

} // namespace

void GiveTextsRoom(QWidget& window) {
    std::vector<Placed> controls;
    int margin = window.width();
    for (QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || child->isHidden()) {
            continue;
        }
        controls.push_back({child, child->geometry(), child->geometry()});
        if (child->x() > 0) {
            margin = std::min(margin, child->x());
        }
    }
    std::sort(controls.begin(), controls.end(), [](const Placed& one, const Placed& other) {
        return std::pair(one.before.top(), one.before.left()) <
               std::pair(other.before.top(), other.before.left());
    });

    for (std::size_t index = 0; index < controls.size(); ++index) {
        Placed& placed = controls[index];
        // Pushed clear of every control above or to the left that now reaches into it.
        QPoint moved = placed.before.topLeft();
        for (std::size_t other = 0; other < index; ++other) {
            const Placed& earlier = controls[other];
            if (earlier.after == earlier.before) {
                continue;
            }
            if (placed.before.top() >= earlier.before.bottom() - kTouching &&
                earlier.after.bottom() >= moved.y() &&
                placed.before.left() < earlier.after.right() &&
                earlier.before.left() < placed.before.right()) {
                moved.setY(earlier.after.bottom() + 1);
            } else if (earlier.after.right() > earlier.before.right() &&
                       SharesRows(placed.before, earlier.before) &&
                       placed.before.left() >= earlier.before.right() - kTouching &&
                       earlier.after.right() >= moved.x()) {
                moved.setX(earlier.after.right() + 1);
            }
        }
        const int rightLimit = std::max(placed.before.right() + 1, window.width() - margin);
        placed.after = RoomNeeded(*placed.control, QRect(moved, placed.before.size()), rightLimit);
        placed.control->setGeometry(placed.after);
    }

    // The window grows to hold every control that moved or grew; room it had to spare below or
    // beside them is used first. A box of the layout that reaches past an edge as it is, stays.
    QSize grown(0, 0);
    for (const Placed& placed : controls) {
        if (placed.after != placed.before) {
            grown = grown.expandedTo(QSize(placed.after.right() - (window.width() - 1),
                                           placed.after.bottom() - (window.height() - 1)));
        }
    }
    const QSize size = window.size() + grown;
    if (size == window.size()) {
        return;
    }
    if (window.minimumSize() == window.maximumSize()) {
        window.setFixedSize(size);
    } else {
        window.resize(size);
    }
}

} // namespace quavera
