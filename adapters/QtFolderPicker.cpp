#include "adapters/QtFolderPicker.h"

#include <QDir>
#include <QFileDialog>

namespace quavera {

std::optional<std::string> QtFolderPicker::browseForFolder(const std::string& prompt) {
    QFileDialog dialog(owner_.data(), QString::fromStdString(prompt), QDir::rootPath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);

    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return QDir::cleanPath(chosen.front()).toStdString();
}

} // namespace quavera
