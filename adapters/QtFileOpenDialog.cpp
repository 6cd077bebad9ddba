#include "adapters/QtFileOpenDialog.h"

#include <QFileDialog>

namespace quavera {

namespace {

const QString kDialogTitle = QStringLiteral("打开");

} // namespace

QStringList toQtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList nameFilters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        nameFilters.append(parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                           QLatin1Char(')'));
    }
    return nameFilters;
}

std::optional<std::string> QtFileOpenDialog::showOpen() {
    QFileDialog dialog(owner_.data(), kDialogTitle);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters_);
    if (!lastConfirmedPath_.isEmpty()) {
        dialog.selectFile(lastConfirmedPath_);
    }

    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    lastConfirmedPath_ = chosen.front();
    return lastConfirmedPath_.toStdString();
}

} // namespace quavera
