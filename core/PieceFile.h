#pragma once

#include "core/Descriptor.h"

#include <cstddef>
#include <optional>
#include <string>
#include <unistd.h>

namespace quavera {

// The kept piece on its way into its folder, so that a cut that dies or fails leaves nothing and
// a finished one leaves exactly the piece under its name: an unnamed file (O_TMPFILE) where the
// file system offers one, else a hidden temporary ".[铃声]1.<12 hex digits>.tmp". The file is
// locked (flock) from before it has a name until the name is gone, so that the sweep of leftovers
// (RemoveLeftoverTemporaries) never takes a running cut's file.
class PieceFile {
public:
    using KernelCopy = ssize_t (*)(int from, loff_t* fromOffset, int to, loff_t* toOffset,
                                   std::size_t length, unsigned int flags);

    // How the piece is put on the disk. The program runs with the defaults; the tests take the
    // roads of a file system without unnamed files, of a system without /proc and of a kernel
    // that refuses to copy between files.
    struct Options {
        bool unnamed = true;
        // Where the unnamed file's descriptors show as links, to give it a name without privilege.
        std::string descriptorLinks = "/proc/self/fd";
        KernelCopy kernelCopy = &::copy_file_range;
    };

    // Creates the piece in `folder` (an open folder, which must outlive the piece). Nothing when
    // it cannot be created or locked; errno tells why.
    [[nodiscard]] static std::optional<PieceFile> Create(int folder, const Options& options);

    PieceFile(PieceFile&& other) noexcept;
    PieceFile& operator=(PieceFile&&) = delete;
    ~PieceFile() { discard(); }

    [[nodiscard]] int fd() const { return file_.get(); }
    // Makes the piece's data reach the disk; errno tells why it did not.
    [[nodiscard]] bool sync() const;
    // Gives the piece `finalName` in its folder, replacing whatever had it (atomically, so the
    // name holds exactly the piece); errno tells why it failed.
    [[nodiscard]] bool keepAs(const std::string& finalName);
    // Closes the piece and removes its temporary name unless it has been kept.
    void discard();

private:
    PieceFile(int folder, Descriptor file, std::string temporary, const Options& options);

    [[nodiscard]] bool link(const std::string& name) const;
    [[nodiscard]] bool nameTheUnnamed();
    [[nodiscard]] bool copyIntoNamedTemporary();

    int folder_;
    Descriptor file_;
    std::string temporary_; // the piece's name in the folder until it is kept; empty if unnamed
    std::string descriptorLinks_;
    KernelCopy kernelCopy_;
};

// Removes from the open `folder` the regular files named exactly like this program's
// temporaries (".[铃声]" + part digit + "." + 12 hex digits + ".tmp") that no running cut holds:
// what cuts that died left behind. Does nothing where the folder cannot be locked.
void RemoveLeftoverTemporaries(int folder);

} // namespace quavera
