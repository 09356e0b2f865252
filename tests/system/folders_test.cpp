#include <gtest/gtest.h>

#include <cstdlib>

#include "system/folders.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Points the system's temporary folder elsewhere for one scope.
struct TempVariable {
#ifdef _WIN32
    const char* name = "TMP";
#else
    const char* name = "TMPDIR";
#endif
    std::string saved;
    bool had = false;
    explicit TempVariable(const char* value) {
        if (const char* old = std::getenv(name)) {
            saved = old;
            had = true;
        }
        Set(value);
    }
    ~TempVariable() {
        if (had) {
            Set(saved.c_str());
        } else {
            Set(nullptr);
        }
    }
    void Set(const char* value) {
#ifdef _WIN32
        SetEnvironmentVariableA(name, value);
        _putenv((std::string(name) + "=" + (value ? value : "")).c_str());
#else
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
#endif
    }
};

#ifdef _WIN32
const char* kTempWithSlash = "C:\\vantel-temp\\";
const char* kTempWithoutSlash = "C:\\vantel-temp";
#else
const char* kTempWithSlash = "/tmp/vantel-temp/";
const char* kTempWithoutSlash = "/tmp/vantel-temp";
#endif

Text Expected() {
#ifdef _WIN32
    return "C:\\vantel-temp";
#else
    return "\\tmp\\vantel-temp";
#endif
}

}  // namespace

TEST(FoldersTest, TempDirectoryIsTheTempPseudoFolder) {
    Text temp = TempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(SpecialFolderPath(kCsidlTempPseudo), temp);
    EXPECT_FALSE(EndsWithBackslashChar(temp));
}

TEST(FoldersTest, TempDirectoryDropsExactlyOneFinalBackslash) {
    {
        TempVariable tmp(kTempWithSlash);
        EXPECT_EQ(TempDirectory(), Expected());
        EXPECT_EQ(SpecialFolderPath(kCsidlTempPseudo), Expected());
    }
    {
        TempVariable tmp(kTempWithoutSlash);
        EXPECT_EQ(TempDirectory(), Expected());
    }
}
