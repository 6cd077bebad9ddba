#pragma once

#include "interfaces/Dialogs.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace quavera {

// Turns "description|pattern|description|pattern" (patterns separated by ';') into Qt's name
// filters, one "description (pattern pattern)" per pair. An unpaired last description is dropped.
[[nodiscard]] QStringList toQtNameFilters(const std::string& filter);

// Qt's own modal file-open dialog (not the desktop's), so it looks and behaves the same on every
// desktop and under a bare X server. It opens where the last confirmed file was.
class QtFileOpenDialog final : public FileOpenDialog {
public:
    explicit QtFileOpenDialog(QWidget* owner = nullptr) : owner_(owner) {}

    void setOwner(QWidget* owner) { owner_ = owner; }

    void setFilter(const std::string& filter) override { nameFilters_ = toQtNameFilters(filter); }
    [[nodiscard]] std::optional<std::string> showOpen() override;

private:
    QPointer<QWidget> owner_;
    QStringList nameFilters_;
    QString lastConfirmedPath_;
};

} // namespace quavera
