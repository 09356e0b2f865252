#include "process/directory.h"

#include <windows.h>
#include <imagehlp.h>

bool EnsureDirectoryPath(const Text& path) {
    // The platform routine takes what follows the last "\" for a file name.
    Text directory = NormaliseDirectory(path);
    return MakeSureDirectoryPathExists(directory.c_str()) == 1;
}
