#pragma once
// Why an extraction did not finish, told so the user can act on it: fetch
// the installer again, free some space, close a program, pick a folder.
#include <cstdint>

#include "system/text.h"

enum class FailureCause {
    None,
    Damaged,       // the archive is cut, inconsistent or does not inflate
    DiskFull,      // `needed` and `available` say by how much
    InUse,         // `path`: the first record's file that could not be replaced
    NoPermission,  // `path`: the folder that took no new file
    Linked,        // `path`: the level of the target's path that is a link
    Other,
};

struct ExtractFailure {
    FailureCause cause = FailureCause::None;
    Text path;  // relative to the target for InUse, full for NoPermission and Linked
    std::uint64_t needed = 0;
    std::uint64_t available = 0;
    bool beforeWriting = false;  // told before anything was made

    // Keeps the first cause of a pass: later failures often follow from it.
    void note(FailureCause why, const Text& what = Text()) {
        if (cause != FailureCause::None) return;
        cause = why;
        path = what;
    }
};
