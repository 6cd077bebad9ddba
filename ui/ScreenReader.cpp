#include "ui/ScreenReader.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace quavera {

namespace {

constexpr char kRoleProperty[] = "quaveraAccessibleRole";

QAccessibleInterface* WithOwnRole(const QString& /*className*/, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    const QVariant role = object->property(kRoleProperty);
    if (!role.isValid()) {
        return nullptr;
    }
    return new QAccessibleWidget(static_cast<QWidget*>(object),
                                 static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void SetAccessibleRole(QWidget& widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(&WithOwnRole);
        return true;
    }();
    static_cast<void>(installed);
    widget.setProperty(kRoleProperty, static_cast<int>(role));
    // Qt keeps the interface it made for a widget; one made before the role was set goes.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget);
    if (made != nullptr && made->role() != role) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

void Announce(QWidget& window, const QString& text) {
    auto* announcer =
        window.findChild<QWidget*>(QLatin1String(kAnnouncerName), Qt::FindDirectChildrenOnly);
    if (announcer == nullptr) {
        announcer = new QWidget(&window);
        announcer->setObjectName(QLatin1String(kAnnouncerName));
        SetAccessibleRole(*announcer, QAccessible::Notification);
        announcer->setAttribute(Qt::WA_TransparentForMouseEvents);
        announcer->setFocusPolicy(Qt::NoFocus);
        announcer->setGeometry(0, 0, 1, 1);
    }
    // Hidden and shown again: the reader hears of every announcement, the same text twice too.
    announcer->hide();
    announcer->setAccessibleName(text);
    announcer->show();
}

} // namespace quavera
