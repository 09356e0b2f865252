#pragma once
// While armed, every file-system write of the process that names a path
// outside the sandbox folder aborts before it happens: the extraction
// target runs as root, and a hole in the path check must cost an input,
// never a file of the machine. Only creating a folder that already exists
// passes (the directory routine walks every level from the root).
#include <string>

// sandbox: absolute POSIX path without a final "/".
void ArmWriteFence(const std::string& sandbox);
void DisarmWriteFence();
