#include "ui/DesktopActions.h"

#include "core/PathText.h"
#include "core/ProgramInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

// Q_INIT_RESOURCE must be used outside any namespace; calling it makes the linker keep the
// resource object of this static library.
static void InitProgramResources() {
    Q_INIT_RESOURCE(quavera);
}

namespace quavera {

namespace {

void ShowFailure(MessageBoxes& messages, const std::string& text) {
    messages.show(text, info::kErrorTitle, MessageIcon::Critical, MessageButtons::Ok);
}

} // namespace

bool OpenFolder(ProcessLauncher& launcher, MessageBoxes& messages, const std::string& folderText) {
    const std::string folder = folderText.empty() ? QDir::homePath().toStdString() : folderText;
    // xdg-open reports a missing folder only through its exit code, after we have returned, so
    // check first: otherwise the click would seem to do nothing at all.
    if (!IsExistingFolder(folder) || !launcher.start(kDesktopOpener, folder)) {
        ShowFailure(messages, "无法打开文件夹：" + folder);
        return false;
    }
    return true;
}

bool OpenAddress(ProcessLauncher& launcher, MessageBoxes& messages, const std::string& address) {
    const QUrl url(QString::fromStdString(address));
    const bool missingLocalPage =
        url.isLocalFile() && !IsExistingFile(url.toLocalFile().toStdString());
    if (address.empty() || missingLocalPage || !launcher.start(kDesktopOpener, address)) {
        ShowFailure(messages, "无法打开网页：" + address);
        return false;
    }
    return true;
}

std::string BundledPageAddress(const std::string& fileName) {
    // The pages sit in <prefix>/<datadir>/quavera/pages next to <prefix>/<bindir>/quavera; the
    // build tree mirrors that layout. Test programs live deeper in the build tree, so the parent
    // folders are tried as well.
    const QString pagePath = QStringLiteral(QUAVERA_DATADIR_FROM_BINDIR "/quavera/pages/") +
                             QString::fromStdString(fileName);
    QDir folder(QCoreApplication::applicationDirPath());
    const QString firstCandidate = QDir::cleanPath(folder.filePath(pagePath));
    QString found;
    do {
        const QString candidate = QDir::cleanPath(folder.filePath(pagePath));
        if (IsExistingFile(candidate.toStdString())) {
            found = candidate;
            break;
        }
    } while (folder.cdUp());
    // A page that is nowhere to be found still gets the address where an installed program keeps
    // it, so that opening it fails with a message that names the place.
    const QString path = found.isEmpty() ? firstCandidate : found;
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString();
}

QIcon ProgramIcon() {
    static const bool resourcesReady = (InitProgramResources(), true);
    Q_UNUSED(resourcesReady);
    // Every size the desktop may ask for (task bar, switcher, title bar at any scale), so that
    // none is scaled from the 32-pixel picture.
    QIcon icon(QStringLiteral(":/quavera/quavera.png"));
    for (const int size : {16, 24, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/quavera/quavera-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace quavera
