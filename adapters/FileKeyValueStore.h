#pragma once

#include "interfaces/KeyValueStore.h"

#include <QByteArray>
#include <QString>
#include <map>

namespace quavera {

// The registry stand-in: one file per root in a folder of the user's configuration, read afresh
// for every operation and replaced atomically on every change, so a crash never leaves a
// half-written file and two instances of the program see each other's writes.
//
// Key paths are separated by backslashes; paths and value names compare without regard to case
// and keep the spelling they were stored with. Values are arbitrary byte strings.
//
// A file that cannot be read or parsed, or anything but a regular file under its name, is renamed
// aside (its name gets ".unreadable-<time>") by the next change, and the root reads as fresh. If it
// cannot be moved aside, the root reads as fresh but refuses changes, so the file is never
// overwritten. A change takes a lock file next to the root's file for its read, change and save, so
// two instances never lose each other's changes; a write that fails leaves the old file whole.
class FileKeyValueStore final : public KeyValueStore {
public:
    explicit FileKeyValueStore(QString folder);

    std::int32_t openKey(StoreRoot root, const std::string& keyPath, Handle& handle) override;
    std::int32_t queryValue(Handle handle, const std::string& valueName,
                            std::vector<std::uint8_t>& data, std::uint32_t& size) override;
    std::int32_t setValue(Handle handle, const std::string& valueName,
                          const std::vector<std::uint8_t>& data) override;
    std::int32_t closeKey(Handle handle) override;

    // Where the keys and values of a root live.
    [[nodiscard]] QString storeFilePath(StoreRoot root) const;

private:
    struct OpenedKey {
        StoreRoot root;
        QByteArray path;
    };

    [[nodiscard]] const OpenedKey* findOpenedKey(Handle handle) const;
    [[nodiscard]] Handle allocateHandle();

    QString folder_;
    std::map<Handle, OpenedKey> openedKeys_;
    Handle nextHandle_ = 1;
};

} // namespace quavera
