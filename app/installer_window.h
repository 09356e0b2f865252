#pragma once
// The wizard window built from its description (window_layout.h), with the
// control operations the handlers and the install worker use. Every
// operation may be called from any thread: a call from another thread is
// queued for the window's thread, which a SendMessage wakes, and returns
// after the control was written, while the window's thread keeps pumping.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "app/window_layout.h"
#include "system/text.h"

constexpr const wchar_t* kInstallerWindowClass = L"VantelInstallerWindow";
constexpr const wchar_t* kWizardPageClass = L"VantelWizardPage";

struct LoadOptions {
    bool raiseCreatedEvent = true;  // run OnWindowCreated
    bool quitOnDestroy = true;      // end the message loop when the window goes
    bool show = true;
};

// Actions other threads of this process hand to the window's thread. The
// message that wakes the window carries nothing: the window runs only what
// was queued here, so a message from outside finds nothing to run.
class WindowActionQueue {
public:
    struct Entry {
        explicit Entry(const std::function<void()>& a) : action(a) {}
        const std::function<void()>& action;
        enum class State { Queued, Running, Done } state = State::Queued;
        bool ran = false;  // returned without an exception
    };

    void Push(Entry& entry);
    // On the window's thread: runs every queued action, oldest first.
    void RunQueued();
    // After the wake-up: takes the entry back if it is still queued, waits
    // while it runs; true when its action ran.
    bool Settle(Entry& entry);

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<Entry*> queued_;
};

class InstallerWindow {
public:
    InstallerWindow() = default;
    InstallerWindow(const InstallerWindow&) = delete;
    InstallerWindow& operator=(const InstallerWindow&) = delete;
    ~InstallerWindow();

    // Creates the window, centred on the primary screen, and every control,
    // then raises the created event and shows the window. False on failure.
    bool Load(const LoadOptions& options = {});
    void Destroy();

    HWND NativeHandle() const { return window_.load(); }
    // The DPI the window and its controls are laid out for.
    int Dpi() const { return dpi_; }
    // The control's window, or nullptr; call on the window's thread.
    HWND Control(int id) const;
    // The window a container's positions count from.
    HWND ContainerHandle(Container container) const;

    void SetCaption(int id, const Text& text);
    Text Caption(int id);
    void SetEditContent(int id, const Text& text);
    // Empty also when the box holds a character code page 936 cannot carry.
    Text EditContent(int id);
    void Enable(int id, bool enabled);
    bool IsEnabled(int id);
    bool IsChecked(int id);
    void SetChecked(int id, bool checked);
    // Shows or hides one control (Show is the whole window).
    void ShowControl(int id, bool visible);
    void Show(bool visible);
    void SetPage(int index);
    int CurrentPage();
    void SetStatusPart(int part, const Text& text);
    Text StatusPart(int part);

    // Runs the action on the window's thread and returns when it has run;
    // false (not run) when there is no window.
    bool RunOnWindowThread(const std::function<void()>& action);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool CreateControls();
    HWND CreateControl(const ControlSpec& row);
    LRESULT ControlColours(HDC dc, HWND control, bool edit);
    void ShowOnlyPage(int index);
    // Lays every control, font, status part and picture out for the DPI.
    void ApplyDpi(int dpi);
    void SetStatusPartEdges(HWND bar) const;
    // Keyboard focus: the first control Tab reaches on the page shown, the
    // control that gets the focus back when the window is activated, and
    // the button Enter presses.
    HWND FirstTabStop() const;
    void RestoreFocus();
    int DefaultButton() const;

    WindowActionQueue actions_;
    std::atomic<HWND> window_{nullptr};
    std::map<int, HWND> controls_;
    HWND pages_[4] = {};
    HFONT defaultFont_ = nullptr;
    HFONT largeFont_ = nullptr;
    HBRUSH whiteBrush_ = nullptr;
    bool quitOnDestroy_ = true;
    int page_ = 0;  // the page shown; the tab control is kept on it
    HWND focus_ = nullptr;  // the focus to restore on activation
    int dpi_ = 96;
};

// The program's wizard window.
InstallerWindow& Wizard();
