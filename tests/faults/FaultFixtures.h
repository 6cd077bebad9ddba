#pragma once

// File-system faults made on purpose: small or read-only mounts, a per-process file size limit,
// and snapshots that show whether a folder changed.

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <csignal>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace quavera::testing {

inline bool RunningAsRoot() {
    return ::geteuid() == 0;
}

// A tmpfs mounted over an existing folder for as long as this lives. Mounting needs root (or a
// user namespace); `mounted()` says whether it worked.
class TmpfsMount {
public:
    // options: tmpfs mount options, such as "size=2m".
    TmpfsMount(const QString& folder, const std::string& options, bool readOnly);
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    ~TmpfsMount();
    [[nodiscard]] bool mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

// Limits the size of every file this process writes, as a full disk would, for as long as it
// lives. Writing past the limit then fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    [[nodiscard]] bool active() const { return active_; }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

// What a folder holds, hidden files included: the bytes of each regular file, the target of
// each link, and the kind of anything else (a FIFO is never opened: that would block).
using FolderSnapshot = QMap<QString, QByteArray>;

inline FolderSnapshot SnapshotOf(const QString& folder) {
    FolderSnapshot snapshot;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        QByteArray content;
        if (entry.isSymLink()) {
            content = "link to " + QFile::encodeName(entry.symLinkTarget());
        } else if (entry.isDir()) {
            content = "folder";
        } else if (entry.isFile()) {
            QFile file(entry.filePath());
            content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
        } else {
            content = "special file";
        }
        snapshot.insert(entry.fileName(), content);
    }
    return snapshot;
}

} // namespace quavera::testing
