#pragma once
// Finding running processes by image name and stopping them.
#include <cstdint>
#include <vector>

#include "system/text.h"

using ProcessIdList = std::vector<std::uint32_t>;

// Where the scan takes its snapshot and how it ends a process: the live
// system, or a test's stand-in.
class ProcessSystem {
public:
    virtual ~ProcessSystem() = default;
    // The system's process list (class 5 entries back to back, 32-bit
    // layout); empty when it cannot be taken.
    virtual std::vector<std::uint64_t> Snapshot() = 0;
    virtual void Terminate(std::uint32_t id) = 0;
};
ProcessSystem& LiveProcesses();

// A snapshot of every process: ids and image names (code page 936) in
// entry order. Returns the number of entries, 0 when the snapshot fails.
int ListProcesses(ProcessIdList& ids, TextList& names, ProcessSystem& system = LiveProcesses());
// Ids of the processes whose image name equals name; without case
// sensitivity only ASCII letters are folded. Returns how many.
int FindProcessesByName(const Text& name, ProcessIdList& ids, bool caseSensitive = false,
                        ProcessSystem& system = LiveProcesses());
// Terminates every process of that name, letter case ignored, in snapshot order.
void StopProcessesByName(const Text& name, ProcessSystem& system = LiveProcesses());
