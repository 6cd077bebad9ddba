#include "FaultFixtures.h"

// Kept apart from the tests: the mount header defines macros that clash with program names.
#include <sys/mount.h>

namespace quavera::testing {

TmpfsMount::TmpfsMount(const QString& folder, const std::string& options, bool readOnly)
    : folder_(QFile::encodeName(folder).toStdString()) {
    const unsigned long flags = readOnly ? static_cast<unsigned long>(MS_RDONLY) : 0UL;
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) {
        ::umount2(folder_.c_str(), MNT_DETACH);
    }
}

} // namespace quavera::testing
