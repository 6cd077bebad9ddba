#include "adapters/FileKeyValueStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quavera {

namespace {

// The file starts with this line; a later format would change the number.
constexpr char kFileHeader[] = "QuaveraKeyValueStore 1";
constexpr char kKeyTag[] = "key";
constexpr char kValueTag[] = "value";
constexpr char kPathSeparator = '\\';
// Far above anything the program writes; a larger file is not ours to load into memory.
constexpr qint64 kLargestReadableFile = 16 * 1024 * 1024;
// How long a change waits for another instance that is changing the same root. The start of
// the program writes the store, so this must stay short; a change that cannot wait is dropped
// quietly, like any other failed store write.
constexpr int kLockWaitMs = 2000;

struct StoredValue {
    QByteArray name;
    QByteArray data;
};

struct StoredKey {
    QByteArray path;
    std::map<QByteArray, StoredValue> valuesByFoldedName;
};

// All keys of one root, by case-folded path.
using RootContents = std::map<QByteArray, StoredKey>;

struct LoadedRoot {
    RootContents keys;
    // False when a file we could not parse is still in place and must not be overwritten.
    bool writable = true;
};

// Names that are not valid UTF-8 are compared byte for byte.
QByteArray folded(const QByteArray& text) {
    if (!text.isValidUtf8()) {
        return text;
    }
    return QString::fromUtf8(text).toCaseFolded().toUtf8();
}

QByteArray toBytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

bool isWellFormedKeyPath(const QByteArray& path) {
    if (path.isEmpty()) {
        return true; // the root itself
    }
    const QList<QByteArray> segments = path.split(kPathSeparator);
    return std::none_of(segments.begin(), segments.end(),
                        [](const QByteArray& segment) { return segment.isEmpty(); });
}

// A key exists when it is stored or is the parent of a stored key; the root always exists.
bool keyExists(const RootContents& keys, const QByteArray& foldedPath) {
    if (foldedPath.isEmpty() || keys.contains(foldedPath)) {
        return true;
    }
    const QByteArray childPrefix = foldedPath + kPathSeparator;
    const auto firstCandidate = keys.lower_bound(childPrefix);
    return firstCandidate != keys.end() && firstCandidate->first.startsWith(childPrefix);
}

void addKey(RootContents& keys, const QByteArray& path) {
    keys.try_emplace(folded(path), StoredKey{path, {}});
}

// The keys the program expects, as a freshly installed system has them.
RootContents freshContents(StoreRoot root) {
    RootContents keys;
    switch (root) {
    case StoreRoot::LocalMachine:
        addKey(keys, "SOFTWARE\\Microsoft");
        break;
    case StoreRoot::CurrentUser:
        addKey(keys, "Software\\Microsoft\\Internet Explorer\\Main");
        break;
    }
    return keys;
}

QString rootFileName(StoreRoot root) {
    switch (root) {
    case StoreRoot::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE.store");
    case StoreRoot::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER.store");
    }
    return QStringLiteral("HKEY_UNKNOWN.store");
}

// Fields are percent-encoded, so names and data may hold any byte, blanks and line ends included.
QByteArray encodeField(const QByteArray& bytes) {
    return bytes.toPercentEncoding();
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Strict: a field holding anything our writer would not produce counts as damage.
std::optional<QByteArray> decodeField(const QByteArray& field) {
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '%') {
            if (i + 2 >= field.size() || !isHexDigit(field[i + 1]) || !isHexDigit(field[i + 2])) {
                return std::nullopt;
            }
            i += 2;
        } else if (!isUnreserved(field[i])) {
            return std::nullopt;
        }
    }
    return QByteArray::fromPercentEncoding(field);
}

QByteArray serialize(const RootContents& keys) {
    QByteArray text = QByteArray(kFileHeader) + '\n';
    for (const auto& [foldedPath, key] : keys) {
        text += QByteArray(kKeyTag) + ' ' + encodeField(key.path) + '\n';
        for (const auto& [foldedName, value] : key.valuesByFoldedName) {
            text += QByteArray(kValueTag) + ' ' + encodeField(value.name) + ' ' +
                    encodeField(value.data) + '\n';
        }
    }
    return text;
}

std::optional<RootContents> parse(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 2 || !lines.back().isEmpty() || lines.front() != kFileHeader) {
        return std::nullopt; // a missing last line end means the file was cut short
    }
    lines.removeLast();

    RootContents keys;
    StoredKey* currentKey = nullptr;
    for (qsizetype lineIndex = 1; lineIndex < lines.size(); ++lineIndex) {
        const QList<QByteArray> fields = lines[lineIndex].split(' ');
        if (fields.size() == 2 && fields[0] == kKeyTag) {
            const std::optional<QByteArray> path = decodeField(fields[1]);
            if (!path || !isWellFormedKeyPath(*path)) {
                return std::nullopt;
            }
            currentKey = &keys.try_emplace(folded(*path), StoredKey{*path, {}}).first->second;
        } else if (fields.size() == 3 && fields[0] == kValueTag && currentKey != nullptr) {
            const std::optional<QByteArray> name = decodeField(fields[1]);
            const std::optional<QByteArray> data = decodeField(fields[2]);
            if (!name || !data) {
                return std::nullopt;
            }
            currentKey->valuesByFoldedName.insert_or_assign(folded(*name),
                                                            StoredValue{*name, *data});
        } else {
            return std::nullopt;
        }
    }
    return keys;
}

std::optional<QByteArray> readWholeFile(const QString& path) {
    // Opened without waiting and checked before reading: a FIFO or a device under the store's
    // name would otherwise block the start or feed it endless data.
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return std::nullopt;
    }
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return std::nullopt;
    }
    if (file.size() > kLargestReadableFile) {
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes;
}

// Keeps a file we could not use under a new name, so writing the root again loses nothing.
bool moveAside(const QString& path) {
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmssZ"));
    const QString base = path + QStringLiteral(".unreadable-") + stamp;
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QString target =
            attempt == 0 ? base : base + QLatin1Char('-') + QString::number(attempt + 1);
        if (QFile::exists(target)) {
            continue;
        }
        return QFile::rename(path, target);
    }
    return false;
}

// Damage is set aside only by a change, which holds the lock: a reader that renamed the file
// could move away the good file another instance has just saved in its place.
enum class Damage { ReadAsFresh, SetAside };

LoadedRoot loadRoot(StoreRoot root, const QString& path, Damage damage) {
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        return {freshContents(root), true};
    }
    if (const std::optional<QByteArray> text = readWholeFile(path)) {
        if (std::optional<RootContents> keys = parse(*text)) {
            // A key the program relies on comes back as a fresh store has it, so its values
            // can be written again.
            keys->merge(freshContents(root));
            return {std::move(*keys), true};
        }
    }
    const bool movedAside = damage == Damage::SetAside && moveAside(path);
    return {freshContents(root), movedAside};
}

std::int32_t saveRoot(const QString& path, const RootContents& keys) {
    QSaveFile file(path);
    const QByteArray text = serialize(keys);
    // Unbuffered, so a short write (a full disk) is seen here; through QSaveFile's buffer it
    // would only fail in commit(), which then still replaces the old file with the short one.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        file.write(text) == text.size() && file.commit()) {
        return store_code::Success;
    }
    const bool denied = file.error() == QFileDevice::PermissionsError;
    file.cancelWriting(); // the old file stays exactly as it was
    return denied ? store_code::AccessDenied : store_code::WriteFault;
}

// The lock that two instances of the program take around reading, changing and saving one
// root, so neither loses the other's change. The lock of a process that has died is broken.
QString lockFilePath(const QString& path) {
    return path + QStringLiteral(".lock");
}

} // namespace

FileKeyValueStore::FileKeyValueStore(QString folder) : folder_(std::move(folder)) {}

QString FileKeyValueStore::storeFilePath(StoreRoot root) const {
    return QDir(folder_).filePath(rootFileName(root));
}

std::int32_t FileKeyValueStore::openKey(StoreRoot root, const std::string& keyPath,
                                        Handle& handle) {
    const QByteArray path = toBytes(keyPath);
    if (!isWellFormedKeyPath(path) ||
        !keyExists(loadRoot(root, storeFilePath(root), Damage::ReadAsFresh).keys, folded(path))) {
        return store_code::FileNotFound;
    }
    handle = allocateHandle();
    openedKeys_.insert_or_assign(handle, OpenedKey{root, path});
    return store_code::Success;
}

std::int32_t FileKeyValueStore::queryValue(Handle handle, const std::string& valueName,
                                           std::vector<std::uint8_t>& data, std::uint32_t& size) {
    const OpenedKey* opened = findOpenedKey(handle);
    if (opened == nullptr) {
        return store_code::InvalidHandle;
    }
    const LoadedRoot loaded =
        loadRoot(opened->root, storeFilePath(opened->root), Damage::ReadAsFresh);
    const auto key = loaded.keys.find(folded(opened->path));
    if (key == loaded.keys.end()) {
        return store_code::FileNotFound;
    }
    const auto value = key->second.valuesByFoldedName.find(folded(toBytes(valueName)));
    if (value == key->second.valuesByFoldedName.end()) {
        return store_code::FileNotFound;
    }

    const QByteArray& bytes = value->second.data;
    const auto byteCount = static_cast<std::size_t>(bytes.size());
    if (byteCount > std::numeric_limits<std::uint32_t>::max()) {
        return store_code::FileNotFound; // cannot be reported through a 32-bit size
    }
    size = static_cast<std::uint32_t>(byteCount);
    if (byteCount > data.size()) {
        return store_code::MoreData;
    }
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return store_code::Success;
}

std::int32_t FileKeyValueStore::setValue(Handle handle, const std::string& valueName,
                                         const std::vector<std::uint8_t>& data) {
    const OpenedKey* opened = findOpenedKey(handle);
    if (opened == nullptr) {
        return store_code::InvalidHandle;
    }
    const QString path = storeFilePath(opened->root);
    QDir().mkpath(folder_);
    QLockFile lock(lockFilePath(path));
    if (!lock.tryLock(kLockWaitMs)) {
        return lock.error() == QLockFile::PermissionError ? store_code::AccessDenied
                                                          : store_code::WriteFault;
    }
    LoadedRoot loaded = loadRoot(opened->root, path, Damage::SetAside);
    if (!loaded.writable) {
        return store_code::AccessDenied;
    }

    const QByteArray name = toBytes(valueName);
    StoredKey& key =
        loaded.keys.try_emplace(folded(opened->path), StoredKey{opened->path, {}}).first->second;
    const QByteArray bytes(reinterpret_cast<const char*>(data.data()),
                           static_cast<qsizetype>(data.size()));
    // Replacing a value keeps the spelling its name was first stored with.
    const auto value =
        key.valuesByFoldedName.try_emplace(folded(name), StoredValue{name, {}}).first;
    value->second.data = bytes;
    return saveRoot(path, loaded.keys);
}

std::int32_t FileKeyValueStore::closeKey(Handle handle) {
    return openedKeys_.erase(handle) == 1 ? store_code::Success : store_code::InvalidHandle;
}

const FileKeyValueStore::OpenedKey* FileKeyValueStore::findOpenedKey(Handle handle) const {
    const auto found = openedKeys_.find(handle);
    return found == openedKeys_.end() ? nullptr : &found->second;
}

FileKeyValueStore::Handle FileKeyValueStore::allocateHandle() {
    // Zero is never handed out, and a handle still open is never given twice.
    while (nextHandle_ == 0 || openedKeys_.contains(nextHandle_)) {
        ++nextHandle_;
    }
    return nextHandle_++;
}

} // namespace quavera
