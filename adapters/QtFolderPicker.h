#pragma once

#include "interfaces/Dialogs.h"

#include <QPointer>
#include <QWidget>

namespace quavera {

// Qt's own modal folder dialog, starting at the top of the file system and showing folders only.
// The path comes back without a final "/", except for "/" itself.
class QtFolderPicker final : public FolderPicker {
public:
    explicit QtFolderPicker(QWidget* owner = nullptr) : owner_(owner) {}

    void setOwner(QWidget* owner) { owner_ = owner; }

    [[nodiscard]] std::optional<std::string> browseForFolder(const std::string& prompt) override;

private:
    QPointer<QWidget> owner_;
};

} // namespace quavera
