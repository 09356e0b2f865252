#include "app/installer_window.h"

#include <commctrl.h>

#include <cwchar>
#include <string>

#include "app/assets.h"
#include "app/dpi_scale.h"
#include "app/install_sequence.h"
#include "app/picture_box.h"
#include "app/resource_ids.h"
#include "app/window_runtime.h"
#include "system/wide_text.h"

namespace {

// Wakes the window's thread to run the queued actions; its parameters are unused.
constexpr UINT kRunActionMessage = WM_APP + 1;
constexpr COLORREF kWhite = RGB(255, 255, 255);

const wchar_t* Win32Class(ControlKind kind) {
    switch (kind) {
    case ControlKind::GroupBox:
    case ControlKind::Button:
    case ControlKind::CheckBox: return L"BUTTON";
    case ControlKind::PicBox: return kPictureBoxClass;
    case ControlKind::Label:
    case ControlKind::TransLabel: return L"STATIC";
    case ControlKind::EditBox: return L"EDIT";
    case ControlKind::Tab: return WC_TABCONTROLW;
    case ControlKind::StatusBar: return STATUSCLASSNAMEW;
    }
    return L"STATIC";
}

DWORD Win32Style(const ControlSpec& row) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    if (row.flags & kDisabled) style |= WS_DISABLED;
    switch (row.kind) {
    case ControlKind::GroupBox: return style | BS_GROUPBOX | WS_CLIPCHILDREN;
    case ControlKind::Button: return style | WS_TABSTOP | BS_PUSHBUTTON;
    case ControlKind::CheckBox: return style | WS_TABSTOP | BS_AUTOCHECKBOX;
    case ControlKind::Label:
    case ControlKind::TransLabel:
        return style | SS_NOPREFIX | ((row.flags & kWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP);
    case ControlKind::EditBox:
        style |= WS_TABSTOP | WS_BORDER;
        if (row.flags & kMultiLine) style |= ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL;
        else style |= ES_AUTOHSCROLL;
        if (row.flags & kReadOnly) style |= ES_READONLY;
        return style;
    case ControlKind::Tab: return style | WS_CLIPCHILDREN | TCS_FOCUSNEVER;
    case ControlKind::StatusBar: return style | CCS_NOPARENTALIGN | CCS_NORESIZE;
    case ControlKind::PicBox: return style;
    }
    return style;
}

int AssetResource(Asset asset) {
    switch (asset) {
    case Asset::Agreement: return IDR_AGREEMENT;
    case Asset::Logo: return IDR_LOGO_PNG;
    case Asset::FolderAnimation: return IDR_FOLDER_GIF;
    case Asset::InstallingAnimation: return IDR_INSTALLING_GIF;
    case Asset::None: break;
    }
    return 0;
}

// The same picture drawn at twice the size, for displays above 96 dpi.
int LargeAssetResource(Asset asset) {
    switch (asset) {
    case Asset::Logo: return IDR_LOGO_2X_PNG;
    case Asset::FolderAnimation: return IDR_FOLDER_2X_GIF;
    case Asset::InstallingAnimation: return IDR_INSTALLING_2X_GIF;
    default: return 0;
    }
}

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

bool IsPage(Container container) { return container != Container::Window && container != Container::Banner; }

int PageIndex(Container container) { return static_cast<int>(container) - static_cast<int>(Container::Page0); }

bool Inside(const ControlSpec& inner, const ControlSpec& outer) {
    return inner.left >= outer.left && inner.top >= outer.top &&
           inner.left + inner.width <= outer.left + outer.width &&
           inner.top + inner.height <= outer.top + outer.height;
}

// Labels draw on the colour of what lies under them: white on the pages
// and over the tab area, the window colour elsewhere.
COLORREF ColourUnder(const ControlSpec& row) {
    if (row.flags & kWhiteBackground) return kWhite;
    if (IsPage(row.container)) return kWhite;
    if (row.container == Container::Window) {
        const ControlSpec* tab = FindControlSpec(ctl::选择夹1);
        if (tab && Inside(row, *tab)) return kWhite;
    }
    return GetSysColor(COLOR_BTNFACE);
}

// Containers hand their children's notifications to the top-level window,
// whose procedure answers colours and clicks for every control.
LRESULT ForwardToRoot(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool* forwarded) {
    *forwarded = false;
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
        *forwarded = true;
        return SendMessageW(GetAncestor(hwnd, GA_ROOT), message, wParam, lParam);
    }
    return 0;
}

LRESULT CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // A page is never closed on its own (a multi-line edit may post this on Escape).
    if (message == WM_CLOSE) return 0;
    bool forwarded;
    LRESULT result = ForwardToRoot(hwnd, message, wParam, lParam, &forwarded);
    if (forwarded) return result;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK GroupBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_ERASEBKGND) {
        RECT box;
        GetClientRect(hwnd, &box);
        FillRect(reinterpret_cast<HDC>(wParam), &box, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    bool forwarded;
    LRESULT result = ForwardToRoot(hwnd, message, wParam, lParam, &forwarded);
    if (forwarded) return result;
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

// The agreement box leaves Tab, Enter and Escape to the window, as a
// read-only text in a wizard should: Tab moves on, Enter presses the page's
// button. The arrows and paging keys still scroll it, and tabbing into it
// does not select it all, which would scroll it to its end.
LRESULT CALLBACK ReadOnlyTextProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_GETDLGCODE) {
        LRESULT code = DefSubclassProc(hwnd, message, wParam, lParam);
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        bool navigation = msg && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
                          (msg->wParam == VK_TAB || msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE);
        code &= ~static_cast<LRESULT>(DLGC_WANTTAB | DLGC_HASSETSEL);
        if (navigation) code &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS);
        return code;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

// The tab headers are no way to change page: keys and clicks that would
// select another header are swallowed (some tab controls change the
// selection even when TCN_SELCHANGING refuses it).
LRESULT CALLBACK TabProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        return 0;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

bool RegisterClasses() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW existing;
    if (!GetClassInfoW(instance, kWizardPageClass, &existing)) {
        WNDCLASSW page{};
        page.lpfnWndProc = PageProc;
        page.hInstance = instance;
        page.hCursor = LoadCursor(nullptr, IDC_ARROW);
        page.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        page.lpszClassName = kWizardPageClass;
        if (!RegisterClassW(&page)) return false;
    }
    return RegisterPictureBoxClass();
}

// Shared icons live as long as the module, as a class icon must; a
// program without the resource (a test) gets the stock one.
HICON ProductIcon(int size) {
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PRODUCT), IMAGE_ICON, size, size,
                             LR_SHARED);
    return icon ? static_cast<HICON>(icon) : LoadIcon(nullptr, IDI_APPLICATION);
}

bool RegisterWindowClass(WNDPROC proc) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, kInstallerWindowClass, &existing)) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    // The product icon in the title bar and the taskbar.
    wc.hIcon = ProductIcon(GetSystemMetrics(SM_CXICON));
    wc.hIconSm = ProductIcon(GetSystemMetrics(SM_CXSMICON));
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kInstallerWindowClass;
    return RegisterClassExW(&wc) != 0;
}

HFONT CreateDefaultFont(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    LOGFONTW font{};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) font = metrics.lfMessageFont;
    // Nine points whatever the system says, so the layout's widths fit.
    font.lfHeight = -Scaled(12, dpi);
    font.lfWidth = 0;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    return CreateFontIndirectW(&font);
}

HFONT CreateLargeFont(int dpi) {
    LOGFONTW font{};
    font.lfHeight = -Scaled(kLargeFontHeight, dpi);
    font.lfWeight = kLargeFontWeight;
    font.lfCharSet = GB2312_CHARSET;
    return CreateFontIndirectW(&font);
}

// Window texts are held in UTF-16: the texts reach the screen, and come
// back, through code page 936 whatever the system's code page.
void SetText(HWND control, const Text& text) {
    SetWindowTextW(control, Wide(TextFromBytes(text.data(), text.size())).c_str());
}

std::wstring GetWideText(HWND control) {
    int length = GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(control, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

}  // namespace

void WindowActionQueue::Push(Entry& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(&entry);
}

void WindowActionQueue::RunQueued() {
    for (;;) {
        Entry* entry = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queued_.empty()) return;
            entry = queued_.front();
            queued_.pop_front();
            entry->state = Entry::State::Running;
        }
        bool ran = false;
        try {
            entry->action();
            ran = true;
        } catch (...) {
            // An exception must not unwind through the window procedure.
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            entry->ran = ran;
            entry->state = Entry::State::Done;
        }
        done_.notify_all();
    }
}

bool WindowActionQueue::Settle(Entry& entry) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (entry.state == Entry::State::Queued) {
        // The window went before it ran the action.
        std::erase(queued_, &entry);
        return false;
    }
    // Still running only when the action pumped messages and so let its
    // own wake-up through.
    done_.wait(lock, [&] { return entry.state == Entry::State::Done; });
    return entry.ran;
}

InstallerWindow& Wizard() {
    static InstallerWindow window;
    return window;
}

InstallerWindow::~InstallerWindow() { Destroy(); }

bool InstallerWindow::Load(const LoadOptions& options) {
    if (window_.load()) return false;
    if (!InitWindowRuntime() || !RegisterClasses() || !RegisterWindowClass(WindowProc)) return false;
    quitOnDestroy_ = options.quitOnDestroy;
    const WindowSpec& row = InstallerWindowSpec();
    // Halves rounded toward zero, as C++ division does.
    int left = (GetSystemMetrics(SM_CXSCREEN) - row.width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - row.height) / 2;
    HWND hwnd = CreateWindowExW(kWindowExStyle, kInstallerWindowClass, Wide(row.caption).c_str(), kWindowStyle, left,
                                top, row.width, row.height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!hwnd) return false;
    window_ = hwnd;
    // Above 96 dpi the window grows to the table scaled, still centred.
    dpi_ = WindowDpi(hwnd);
    if (dpi_ != kBaseDpi) {
        SIZE outer = ScaledOuterSize(row.width, row.height, kWindowStyle, kWindowExStyle, dpi_);
        SetWindowPos(hwnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2, outer.cx, outer.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!CreateControls()) {
        Destroy();
        return false;
    }
    if (options.raiseCreatedEvent) OnWindowCreated();
    if (options.show) {
        ShowWindow(hwnd, SW_SHOWNORMAL);
        UpdateWindow(hwnd);
    }
    return true;
}

void InstallerWindow::Destroy() {
    HWND hwnd = window_.load();
    if (hwnd) DestroyWindow(hwnd);
}

bool InstallerWindow::CreateControls() {
    whiteBrush_ = CreateSolidBrush(kWhite);
    defaultFont_ = CreateDefaultFont(dpi_);
    largeFont_ = CreateLargeFont(dpi_);
    for (const ControlSpec& row : InstallerControls()) {
        HWND control = CreateControl(row);
        if (!control) return false;
        controls_[row.id] = control;
    }
    return true;
}

HWND InstallerWindow::CreateControl(const ControlSpec& row) {
    HWND parent = ContainerHandle(row.container);
    if (!parent) return nullptr;
    ByteBuffer assetBytes = row.asset == Asset::None ? ByteBuffer{} : LoadAsset(AssetResource(row.asset));
    ByteBuffer largeBytes;
    if (row.kind == ControlKind::PicBox && LargeAssetResource(row.asset))
        largeBytes = LoadAsset(LargeAssetResource(row.asset));
    PictureBoxInit picture{&assetBytes, &largeBytes, (row.flags & kScaled) != 0, ColourUnder(row), dpi_};
    const PixelRect at = ScaledRect(row.left, row.top, row.width, row.height, dpi_);
    void* createParam = row.kind == ControlKind::PicBox ? &picture : nullptr;
    // Containers let the keyboard through to the controls inside them.
    DWORD exStyle = row.kind == ControlKind::GroupBox || row.kind == ControlKind::Tab ? WS_EX_CONTROLPARENT : 0;
    HWND control = CreateWindowExW(exStyle, Win32Class(row.kind), Wide(row.text ? row.text : "").c_str(),
                                   Win32Style(row), at.left, at.top, at.width, at.height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), GetModuleHandleW(nullptr),
                                   createParam);
    if (!control) return nullptr;
    // Later rows of the window lie above earlier ones (the version label
    // over the tab area). Inside a page nothing overlaps, so controls keep
    // their creation order there, which is also the order Tab follows.
    if (row.container == Container::Window)
        SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>((row.flags & kLargeFont) ? largeFont_ : defaultFont_),
                 FALSE);

    switch (row.kind) {
    case ControlKind::GroupBox:
        SetWindowSubclass(control, GroupBoxProc, 1, 0);
        break;
    case ControlKind::CheckBox:
        SendMessageW(control, BM_SETCHECK, (row.flags & kChecked) ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    case ControlKind::EditBox:
        if (row.asset == Asset::Agreement) SetText(control, TextFromBytes(assetBytes));
        if (row.flags & kMultiLine) SetWindowSubclass(control, ReadOnlyTextProc, 1, 0);
        break;
    case ControlKind::Tab: {
        SetWindowSubclass(control, TabProc, 1, 0);
        auto captions = TabPageCaptions();
        for (std::size_t i = 0; i < captions.size() && i < 4; ++i) {
            std::wstring caption = Wide(captions[i]);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = caption.data();
            SendMessageW(control, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
            // The pages cover the whole tab control: positions on a page count
            // from the tab control's corner, and the headers stay hidden.
            pages_[i] = CreateWindowExW(WS_EX_CONTROLPARENT, kWizardPageClass, caption.c_str(),
                                        WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | (i == 0 ? WS_VISIBLE : 0), 0,
                                        0, at.width, at.height, control, nullptr, GetModuleHandleW(nullptr),
                                        nullptr);
            if (!pages_[i]) return nullptr;
        }
        SendMessageW(control, TCM_SETCURSEL, 0, 0);
        break;
    }
    case ControlKind::StatusBar: {
        auto parts = StatusParts();
        SetStatusPartEdges(control);
        for (std::size_t i = 0; i < parts.size() && i < 2; ++i)
            SendMessageW(control, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(Wide(parts[i].text).c_str()));
        break;
    }
    default:
        break;
    }
    return control;
}

void InstallerWindow::SetStatusPartEdges(HWND bar) const {
    auto parts = StatusParts();
    int edges[2] = {};
    int right = 0;
    for (std::size_t i = 0; i < parts.size() && i < 2; ++i) edges[i] = Scaled(right += parts[i].width, dpi_);
    SendMessageW(bar, SB_SETPARTS, parts.size() < 2 ? parts.size() : 2, reinterpret_cast<LPARAM>(edges));
}

void InstallerWindow::ApplyDpi(int dpi) {
    HWND hwnd = window_.load();
    if (!hwnd || dpi <= 0) return;
    dpi_ = dpi;
    HFONT oldDefault = defaultFont_, oldLarge = largeFont_;
    defaultFont_ = CreateDefaultFont(dpi_);
    largeFont_ = CreateLargeFont(dpi_);
    for (const ControlSpec& row : InstallerControls()) {
        HWND control = Control(row.id);
        if (!control) continue;
        const PixelRect at = ScaledRect(row.left, row.top, row.width, row.height, dpi_);
        SetWindowPos(control, nullptr, at.left, at.top, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>((row.flags & kLargeFont) ? largeFont_ : defaultFont_), TRUE);
        if (row.kind == ControlKind::Tab)
            for (HWND page : pages_)
                SetWindowPos(page, nullptr, 0, 0, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
        if (row.kind == ControlKind::StatusBar) SetStatusPartEdges(control);
        if (row.kind == ControlKind::PicBox) SendMessageW(control, kPicSetDpi, static_cast<WPARAM>(dpi_), 0);
    }
    DeleteObject(oldDefault);
    DeleteObject(oldLarge);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

HWND InstallerWindow::Control(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

HWND InstallerWindow::ContainerHandle(Container container) const {
    switch (container) {
    case Container::Window: return window_.load();
    case Container::Banner: return Control(ctl::分组框1);
    default: return pages_[PageIndex(container)];
    }
}

bool InstallerWindow::RunOnWindowThread(const std::function<void()>& action) {
    HWND hwnd = window_.load();
    if (!hwnd) return false;
    if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
        action();
        return true;
    }
    WindowActionQueue::Entry entry(action);
    actions_.Push(entry);
    // Returns when the window's thread has run the queue, or at once when
    // the window has gone.
    SendMessageW(hwnd, kRunActionMessage, 0, 0);
    return actions_.Settle(entry);
}

void InstallerWindow::SetCaption(int id, const Text& text) {
    RunOnWindowThread([&] {
        if (HWND control = Control(id)) SetText(control, text);
    });
}

Text InstallerWindow::Caption(int id) {
    Text text;
    RunOnWindowThread([&] {
        if (HWND control = Control(id)) text = Narrow(GetWideText(control));
    });
    return text;
}

void InstallerWindow::SetEditContent(int id, const Text& text) { SetCaption(id, text); }

Text InstallerWindow::EditContent(int id) {
    Text text;
    RunOnWindowThread([&] {
        HWND control = Control(id);
        if (control && !TextFromWide(GetWideText(control), text)) text.clear();
    });
    return text;
}

void InstallerWindow::Enable(int id, bool enabled) {
    RunOnWindowThread([&] {
        if (HWND control = Control(id)) EnableWindow(control, enabled);
    });
}

bool InstallerWindow::IsEnabled(int id) {
    bool enabled = false;
    RunOnWindowThread([&] {
        if (HWND control = Control(id)) enabled = IsWindowEnabled(control);
    });
    return enabled;
}

bool InstallerWindow::IsChecked(int id) {
    bool checked = false;
    RunOnWindowThread([&] {
        if (HWND control = Control(id)) checked = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    });
    return checked;
}

void InstallerWindow::SetChecked(int id, bool checked) {
    RunOnWindowThread([&] {
        if (HWND control = Control(id)) SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    });
}

void InstallerWindow::ShowControl(int id, bool visible) {
    RunOnWindowThread([&] {
        if (HWND control = Control(id)) ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
    });
}

void InstallerWindow::Show(bool visible) {
    RunOnWindowThread([&] { ShowWindow(window_.load(), visible ? SW_SHOW : SW_HIDE); });
}

void InstallerWindow::SetPage(int index) {
    if (index < 0 || index > 3) return;
    RunOnWindowThread([&] {
        page_ = index;
        SendMessageW(Control(ctl::选择夹1), TCM_SETCURSEL, index, 0);
        ShowOnlyPage(index);
        // The keyboard starts over on the new page: its first control.
        focus_ = FirstTabStop();
        if (GetActiveWindow() == window_.load()) RestoreFocus();
    });
}

HWND InstallerWindow::FirstTabStop() const {
    HWND page = pages_[page_];
    for (HWND child = page ? GetWindow(page, GW_CHILD) : nullptr; child; child = GetWindow(child, GW_HWNDNEXT)) {
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) return child;
    }
    return nullptr;
}

void InstallerWindow::RestoreFocus() {
    HWND hwnd = window_.load();
    HWND target = focus_;
    if (!target || !IsChild(hwnd, target) || !IsWindowVisible(target) || !IsWindowEnabled(target))
        target = FirstTabStop();
    if (target) {
        SetFocus(target);
    } else if (GetFocus() != hwnd) {
        SetFocus(hwnd);
    }
}

int InstallerWindow::DefaultButton() const {
    // A focused push button takes Enter itself, as in any dialog.
    HWND focus = GetFocus();
    if (focus && IsChild(window_.load(), focus) &&
        (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
        return GetDlgCtrlID(focus);
    return MainButtonOfPage(page_);
}

void InstallerWindow::ShowOnlyPage(int index) {
    // Show the new page before hiding the old so nothing grey flashes.
    ShowWindow(pages_[index], SW_SHOW);
    for (int i = 0; i < 4; ++i)
        if (i != index) ShowWindow(pages_[i], SW_HIDE);
}

int InstallerWindow::CurrentPage() {
    int page = -1;
    RunOnWindowThread([&] { page = static_cast<int>(SendMessageW(Control(ctl::选择夹1), TCM_GETCURSEL, 0, 0)); });
    return page;
}

void InstallerWindow::SetStatusPart(int part, const Text& text) {
    if (part < 0 || part > 1) return;
    RunOnWindowThread([&] {
        const std::wstring wide = Wide(TextFromBytes(text.data(), text.size()));
        SendMessageW(Control(ctl::状态条1), SB_SETTEXTW, part, reinterpret_cast<LPARAM>(wide.c_str()));
    });
}

Text InstallerWindow::StatusPart(int part) {
    Text text;
    RunOnWindowThread([&] {
        // SB_GETTEXT takes no buffer size: ask for the length first.
        HWND bar = Control(ctl::状态条1);
        std::size_t length = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, part, 0));
        std::wstring wide(length + 1, L'\0');
        SendMessageW(bar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(wide.data()));
        wide.resize(std::wcslen(wide.c_str()));
        text = Narrow(wide);
    });
    return text;
}

LRESULT InstallerWindow::ControlColours(HDC dc, HWND control, bool edit) {
    const ControlSpec* row = FindControlSpec(GetDlgCtrlID(control));
    if (!row) return 0;
    COLORREF under = (edit || row->kind == ControlKind::EditBox) ? kWhite : ColourUnder(*row);
    SetTextColor(dc, row->textColour);
    SetBkColor(dc, under);
    return reinterpret_cast<LRESULT>(under == kWhite ? whiteBrush_ : GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CALLBACK InstallerWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->Handle(hwnd, message, wParam, lParam);
}

LRESULT InstallerWindow::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case DM_GETDEFID: {
        // Asked by the dialog keys on Enter; a disabled button is not pressed.
        int id = DefaultButton();
        return id ? MAKELRESULT(id, DC_HASDEFID) : 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd, focus)) focus_ = focus;
        } else if (!HIWORD(wParam)) {
            RestoreFocus();
        }
        return 0;
    case WM_SETFOCUS:
        RestoreFocus();
        return 0;
    case WM_DPICHANGED: {
        // Moved to a display of another scale: the system suggests the
        // window's new rectangle; the controls follow from the table.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ApplyDpi(LOWORD(wParam));
        if (suggested)
            SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case kRunActionMessage:
        // Any process may send this message: it only runs what this
        // process's threads queued.
        actions_.RunQueued();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            // A click sent to a disabled button (BM_CLICK) is not a click.
            const ControlSpec* row = FindControlSpec(LOWORD(wParam));
            HWND control = reinterpret_cast<HWND>(lParam);
            if (row && row->onClick && IsWindowEnabled(control)) row->onClick();
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        // The pages change only through the handlers, never by the headers.
        if (header->idFrom != ctl::选择夹1) break;
        if (header->code == TCN_SELCHANGING) return TRUE;
        // Tab controls that change anyway are put back on the page shown.
        if (header->code == TCN_SELCHANGE) SendMessageW(header->hwndFrom, TCM_SETCURSEL, page_, 0);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
        LRESULT brush = ControlColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                       message == WM_CTLCOLOREDIT);
        if (brush) return brush;
        break;
    }
    case WM_NCDESTROY: {
        bool quit = quitOnDestroy_;
        window_ = nullptr;
        controls_.clear();
        for (HWND& page : pages_) page = nullptr;
        page_ = 0;
        focus_ = nullptr;
        dpi_ = kBaseDpi;
        DeleteObject(defaultFont_);
        DeleteObject(largeFont_);
        DeleteObject(whiteBrush_);
        defaultFont_ = largeFont_ = nullptr;
        whiteBrush_ = nullptr;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        if (quit) PostQuitMessage(0);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}
