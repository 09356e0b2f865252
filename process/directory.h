#pragma once
#include "system/text.h"

// Creates the directory with every missing parent. Works on a copy: "/"
// becomes "\" and a final "\" is added by character test. True when the
// directory exists afterwards.
bool EnsureDirectoryPath(const Text& path);
