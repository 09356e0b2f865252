// The payload tests' entry point. On Windows the program doubles as the
// helper that holds a file open without sharing ("--hold-open PATH"), so a
// test can lock a file from another process, and as a run that dies with a
// record staged in FOLDER ("--stage-and-die FOLDER").
#include <gtest/gtest.h>

#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "payload/file_ops.h"
#include "payload/target_tree.h"

static int HoldOpen(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    Sleep(60000);  // the test ends this process long before
    CloseHandle(file);
    return 0;
}

// Ends the process without closing anything once the staged file is
// written and listed; exit status 3 says it got that far.
static int StageAndDie(const char* folder) {
    TargetTree tree(Text(folder) + "\\");
    if (!tree.open()) return 2;
    StagedFile staged = tree.stage("record.bin");
    const std::uint8_t bytes[] = {'h', 'a', 'l', 'f'};
    if (!staged.valid() || !writeExactly(staged.file(), bytes, sizeof bytes)) return 2;
    const TextList names = listDirectory(folder);
    if (names.size() != 1 || !IsStagingName(names[0])) return 4;
    TerminateProcess(GetCurrentProcess(), 3);
    return 5;
}
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    if (argc == 3 && std::strcmp(argv[1], "--hold-open") == 0) return HoldOpen(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--stage-and-die") == 0) return StageAndDie(argv[2]);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
