#pragma once
// Finding running processes by image name and stopping them.
#include <cstdint>
#include <vector>

#include "system/text.h"

using ProcessIdList = std::vector<std::uint32_t>;

// A snapshot of every process: ids and image names (code page 936) in
// entry order. Returns the number of entries, 0 when the snapshot fails.
int ListProcesses(ProcessIdList& ids, TextList& names);
// Ids of the processes whose image name equals name; without case
// sensitivity only ASCII letters are folded. Returns how many.
int FindProcessesByName(const Text& name, ProcessIdList& ids, bool caseSensitive = false);
// Terminates every process of that name, letter case ignored.
void StopProcessesByName(const Text& name);
