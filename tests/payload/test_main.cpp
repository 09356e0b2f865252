// The payload tests' entry point. On Windows the program doubles as the
// helper that holds a file open without sharing ("--hold-open PATH"), so a
// test can lock a file from another process.
#include <gtest/gtest.h>

#include <cstring>

#ifdef _WIN32
#include <windows.h>

static int HoldOpen(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    Sleep(60000);  // the test ends this process long before
    CloseHandle(file);
    return 0;
}
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    if (argc == 3 && std::strcmp(argv[1], "--hold-open") == 0) return HoldOpen(argv[2]);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
