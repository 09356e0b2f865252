// The record the shell is handed, what the caller keeps of it, and where
// the finish page's starts go.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

#include "app/desktop_shell.h"
#include "app/install_sequence.h"
#include "app/shell_launch.h"
#include "system/wide_text.h"

namespace {

// What one shell call saw: the record and the texts its pointers led to.
struct Seen {
    SHELLEXECUTEINFOW record;
    Text verb, file, parameters, directory;
};

class CapturingShell : public Shell {
public:
    explicit CapturingShell(bool starts, bool desktopTakes = false) : starts_(starts), desktopTakes_(desktopTakes) {}
    bool Execute(SHELLEXECUTEINFOW& record) override {
        calls.push_back({record, Safe(record.lpVerb), Safe(record.lpFile), Safe(record.lpParameters),
                         Safe(record.lpDirectory)});
        if (starts_) record.hProcess = kProcess;
        return starts_;
    }
    bool ExecuteOnDesktop(const DesktopStart& start) override {
        desktopCalls.push_back(start);
        return desktopTakes_;
    }
    static inline const HANDLE kProcess = reinterpret_cast<HANDLE>(0x1234);
    std::vector<Seen> calls;
    std::vector<DesktopStart> desktopCalls;

private:
    static Text Safe(const wchar_t* text) { return text ? Narrow(text) : Text("<null>"); }
    bool starts_, desktopTakes_;
};

const Text kNotes = "D:\\VantelPA\\升级说明与必看.txt";
const std::wstring kWideNotes = L"D:\\VantelPA\\\u5347\u7EA7\u8BF4\u660E\u4E0E\u5FC5\u770B.txt";

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

        const SHELLEXECUTEINFOW& kept = record.info;
        ASSERT_TRUE(kept.lpVerb && kept.lpFile && kept.lpParameters && kept.lpDirectory);
        EXPECT_EQ(Narrow(kept.lpVerb), c.verb);
        EXPECT_EQ(Narrow(kept.lpFile), "D:\\dir\\VantelPA.exe");
        EXPECT_EQ(Narrow(kept.lpParameters), c.parameters);
        EXPECT_EQ(Narrow(kept.lpDirectory), c.directory);
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

TEST(ShellLaunch, NamesReachTheShellInUtf16FromCodePage936) {
    CapturingShell shell(true);
    LaunchRecord record;
    ShellLaunch("D:\\VantelPA\\升级说明与必看.txt", "-ver=2.2.06", std::nullopt, false, "", false, nullptr, record, shell);
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(std::wstring(record.info.lpFile), L"D:\\VantelPA\\\u5347\u7EA7\u8BF4\u660E\u4E0E\u5FC5\u770B.txt");

    // A lead byte with no second byte names no file: nothing is started.
    CapturingShell refused(true, true);
    EXPECT_EQ(ShellLaunch("D:\\\x81", "", std::nullopt, false, "", false, nullptr, record, refused), nullptr);
    EXPECT_EQ(LaunchQuietly("D:\\\x81", refused), nullptr);
    EXPECT_TRUE(refused.calls.empty());
    EXPECT_TRUE(refused.desktopCalls.empty());
}

// The installer runs elevated: what the finish page starts is handed to the
// desktop's shell, so it runs with the desktop user's token, never this one.
TEST(FinishLaunch, GoesToTheDesktopShellWhenThereIsOne) {
    CapturingShell shell(true, true);
    EXPECT_EQ(LaunchQuietly(kNotes, shell), nullptr);
    ASSERT_EQ(shell.desktopCalls.size(), 1u);
    const DesktopStart& start = shell.desktopCalls[0];
    EXPECT_EQ(start.file, kWideNotes);
    EXPECT_EQ(start.parameters, L"");
    EXPECT_EQ(start.directory, L"");
    EXPECT_EQ(start.verb, L"Open");
    EXPECT_EQ(start.show, SW_SHOWNORMAL);
    EXPECT_TRUE(shell.calls.empty());
}

// Where no desktop shell takes it (none shows the desktop, or it does not
// answer in time), nothing is started: the system shell would start it
// with this process's elevated token.
TEST(FinishLaunch, StartsNothingWithoutADesktopShell) {
    CapturingShell shell(true, false);
    EXPECT_EQ(LaunchQuietly(kNotes, shell), nullptr);
    EXPECT_EQ(LaunchAsDesktopUser("D:\\VantelPA\\VantelPA.exe", "-ver=2.2.06", SW_MAXIMIZE, "D:\\VantelPA", shell),
              nullptr);
    EXPECT_EQ(shell.desktopCalls.size(), 2u);
    EXPECT_TRUE(shell.calls.empty());
}

// A desktop shell that never answers holds the finish click only so long,
// and counts as having taken the start: it is never asked elsewhere, with
// this process's token, while it may still carry it out.
TEST(FinishLaunch, ADesktopShellThatDoesNotAnswerHoldsTheClickOnlySoLong) {
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    EXPECT_TRUE(TakenWithin(
        [released] {
            released.wait();
            return false;
        },
        50));
    release->set_value();  // the late answer finds all it uses still there
    EXPECT_FALSE(TakenWithin([] { return false; }, 60000));
    EXPECT_TRUE(TakenWithin([] { return true; }, 60000));
}
