#include "system/folders.h"

#include <cstdlib>

#include "system/posix_path.h"

Text TempDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    Text path = FromPosixPath(tmp && *tmp ? tmp : "/tmp");
    if (EndsWithBackslashChar(path)) path.pop_back();
    return path;
}

// Only the temporary directory exists as a special folder here.
Text SpecialFolderPath(int folderId) { return folderId == kCsidlTempPseudo ? TempDirectory() : Text(); }
