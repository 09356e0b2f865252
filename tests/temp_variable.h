#pragma once
// Points the system's temporary folder elsewhere for one scope: TMP under
// Windows (GetTempPathA reads it first), TMPDIR elsewhere, or `variable`.
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

struct TempVariable {
#ifdef _WIN32
    const char* name = "TMP";
#else
    const char* name = "TMPDIR";
#endif
    std::string saved;
    bool had = false;
    explicit TempVariable(const char* value, const char* variable = nullptr) {
        if (variable) name = variable;
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

