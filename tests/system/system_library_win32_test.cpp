// DLLs come from the system folder only, whatever lies beside the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "planted_dll.h"
#include "system/system_library.h"

namespace {

const char kPlanted[] = "vantel-planted.dll";

}  // namespace

TEST(SystemLibrary, OnlyTheSystemFoldersCopyOfABareNameLoads) {
    PlantedDll planted(kPlanted);
    ASSERT_TRUE(planted.Planted());
    EXPECT_EQ(LoadSystemLibrary(L"vantel-planted.dll"), nullptr);
    EXPECT_EQ(LoadSystemLibraryByPath(L"vantel-planted.dll"), nullptr);
    EXPECT_FALSE(planted.Ran());
    {
        LoadedModule byItsPath(LoadLibraryA(planted.Path().c_str()));
        EXPECT_TRUE(byItsPath && planted.Ran()) << "the planted copy itself does not load";
    }

    for (auto load : {LoadSystemLibrary, LoadSystemLibraryByPath}) {
        LoadedModule version(load(L"version.dll"));
        ASSERT_TRUE(version);
        EXPECT_TRUE(IsSystemFolder(FolderOf(version.get()))) << FolderOf(version.get());
    }
    for (const wchar_t* name : {L"", L"..", L"..\\version.dll", L"system32\\version.dll", L"C:version.dll",
                                L"C:\\windows\\system32\\version.dll", L"/version.dll"})
        EXPECT_EQ(LoadSystemLibrary(name), nullptr) << std::string(name, name + wcslen(name));
}

// In processes of their own: the restriction is for the whole process.
TEST(SystemLibraryDeathTest, AfterTheRestrictionNoSearchLooksBesideTheProgram) {
    PlantedDll planted(kPlanted);
    ASSERT_TRUE(planted.Planted());
    EXPECT_EXIT(
        {
            if (!RestrictDllSearch()) _exit(2);
            _exit(LoadLibraryW(L"vantel-planted.dll") ? 3 : 0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_FALSE(planted.Ran());
    // Unrestricted, the same search takes the planted copy.
    EXPECT_EXIT(_exit(LoadLibraryW(L"vantel-planted.dll") ? 0 : 3), testing::ExitedWithCode(0), "");
    EXPECT_TRUE(planted.Ran());
}

TEST(SystemLibrary, FunctionsResolveAllOrNothing) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const char* const present[] = {"GetTickCount", "GetCurrentProcessId"};
    const char* const oneMissing[] = {"GetTickCount", "VantelNoSuchFunction"};
    FARPROC functions[2] = {};
    EXPECT_TRUE(ResolveSystemFunctions(L"kernel32.dll", present, functions, 2));
    EXPECT_EQ(functions[0], GetProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(functions[1], GetProcAddress(kernel, "GetCurrentProcessId"));

    EXPECT_FALSE(ResolveSystemFunctions(L"kernel32.dll", oneMissing, functions, 2));
    EXPECT_EQ(functions[0], nullptr);
    EXPECT_EQ(functions[1], nullptr);
    EXPECT_FALSE(ResolveSystemFunctions(L"vantel-no-such-module.dll", present, functions, 1));

    const SystemFunctionTable<2> table(L"kernel32.dll", oneMissing);
    EXPECT_EQ(table.Get(0, &GetTickCount), nullptr);
}
