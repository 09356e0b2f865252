// The record the shell is handed, and what the caller keeps of it.
#include <gtest/gtest.h>

#include <vector>

#include "app/shell_launch.h"

namespace {

// What one shell call saw: the record and the texts its pointers led to.
struct Seen {
    SHELLEXECUTEINFOA record;
    Text verb, file, parameters, directory;
};

class CapturingShell : public Shell {
public:
    explicit CapturingShell(bool starts) : starts_(starts) {}
    bool Execute(SHELLEXECUTEINFOA& record) override {
        calls.push_back({record, Safe(record.lpVerb), Safe(record.lpFile), Safe(record.lpParameters),
                         Safe(record.lpDirectory)});
        if (starts_) record.hProcess = kProcess;
        return starts_;
    }
    static inline const HANDLE kProcess = reinterpret_cast<HANDLE>(0x1234);
    std::vector<Seen> calls;

private:
    static Text Safe(const char* text) { return text ? Text(text) : Text("<null>"); }
    bool starts_;
};

struct Case {
    const char* name;
    std::optional<int> show;
    bool elevate;
    const char* parameters;
    const char* directory;
    HWND owner;
    const char* verb;
    int expectedShow;
};

}  // namespace

TEST(ShellLaunch, FillsTheRecordAndTheCallerKeepsItValid) {
    const Case cases[] = {
        {"defaults", std::nullopt, false, "", "", nullptr, "Open", SW_SHOWNORMAL},
        {"explicit hide", 0, false, "", "", nullptr, "Open", SW_HIDE},
        {"elevated, all given", SW_MAXIMIZE, true, "-ver=2.2.06", "D:\\dir", reinterpret_cast<HWND>(0x77),
         "runas", SW_MAXIMIZE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturingShell shell(true);
        LaunchRecord record;
        // Temporaries: the record must not lead into them after the call.
        HANDLE process = ShellLaunch(Text("D:\\dir\\") + "VantelPA.exe", Text(c.parameters), c.show, c.elevate,
                                     Text(c.directory), false, c.owner, record, shell);
        EXPECT_EQ(process, CapturingShell::kProcess);
        ASSERT_EQ(shell.calls.size(), 1u);
        const Seen& seen = shell.calls[0];
        EXPECT_EQ(seen.record.cbSize, sizeof(void*) == 4 ? 60u : 112u);  // each architecture's own record
        EXPECT_EQ(seen.record.fMask, 0x44Cu);
        EXPECT_EQ(seen.record.hwnd, c.owner);
        EXPECT_EQ(seen.verb, c.verb);
        EXPECT_EQ(seen.file, "D:\\dir\\VantelPA.exe");
        EXPECT_EQ(seen.parameters, c.parameters);
        EXPECT_EQ(seen.directory, c.directory);
        EXPECT_EQ(seen.record.nShow, c.expectedShow);
        EXPECT_EQ(seen.record.hInstApp, nullptr);
        EXPECT_EQ(seen.record.lpIDList, nullptr);

        const SHELLEXECUTEINFOA& kept = record.info;
        ASSERT_TRUE(kept.lpVerb && kept.lpFile && kept.lpParameters && kept.lpDirectory);
        EXPECT_EQ(Text(kept.lpVerb), c.verb);
        EXPECT_EQ(Text(kept.lpFile), "D:\\dir\\VantelPA.exe");
        EXPECT_EQ(Text(kept.lpParameters), c.parameters);
        EXPECT_EQ(Text(kept.lpDirectory), c.directory);
        EXPECT_EQ(kept.nShow, c.expectedShow);
        EXPECT_EQ(kept.hProcess, CapturingShell::kProcess);
    }
}

TEST(ShellLaunch, AsksOnceMoreWithoutTheItemListFlagWhenNothingStarted) {
    CapturingShell shell(false);
    LaunchRecord record;
    EXPECT_EQ(ShellLaunch("C:\\notes.txt", "", std::nullopt, false, "", true, nullptr, record, shell), nullptr);
    ASSERT_EQ(shell.calls.size(), 2u);
    EXPECT_EQ(shell.calls[0].record.fMask, 0x44Cu);
    EXPECT_EQ(shell.calls[1].record.fMask, 0x44Cu & ~static_cast<ULONG>(SEE_MASK_INVOKEIDLIST));
    EXPECT_EQ(shell.calls[1].file, "C:\\notes.txt");
}
