#pragma once
// Which archive record paths may be written below the target folder.
#include <cstddef>

#include "payload/archive_format.h"
#include "system/text.h"

// True when the path names a file strictly below the folder it is
// extracted into, judged on the components the file system will see.
// False when it is empty, too long, absolute, ends in a separator, does
// not convert, or has a component that is empty, made only of dots and
// spaces, ends in a dot or a space, is a device name, or holds a colon, a
// control character or one of < > " | ? *.
bool IsSafeArchivePath(const Text& path);
