#include "app/desktop_shell.h"

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <chrono>
#include <memory>
#include <system_error>
#include <thread>

#include "payload/bounded_queue.h"
#include "system/com_owner.h"

namespace {

// The browser of the desktop's own window; empty when nothing shows a desktop.
ComPtr<IShellBrowser> DesktopBrowser() {
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.OutVoid())))
        return {};
    Variant location(CSIDL_DESKTOP), root;
    LONG window = 0;
    ComPtr<IDispatch> desktop;
    // S_FALSE: there is no desktop window.
    if (windows->FindWindowSW(location.get(), root.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              desktop.Out()) != S_OK)
        return {};
    ComPtr<IServiceProvider> services = desktop.As<IServiceProvider>(IID_IServiceProvider);
    ComPtr<IShellBrowser> browser;
    if (!services || FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.OutVoid())))
        return {};
    return browser;
}

// The automation object of the shell behind the desktop's view.
ComPtr<IShellDispatch2> DesktopAutomation() {
    ComPtr<IShellBrowser> browser = DesktopBrowser();
    ComPtr<IShellView> view;
    if (!browser || FAILED(browser->QueryActiveShellView(view.Out())) || !view) return {};
    ComPtr<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.OutVoid()))) return {};
    ComPtr<IShellFolderViewDual> folderView = background.As<IShellFolderViewDual>(IID_IShellFolderViewDual);
    ComPtr<IDispatch> application;
    if (!folderView || FAILED(folderView->get_Application(application.Out()))) return {};
    return application.As<IShellDispatch2>(IID_IShellDispatch2);
}

bool StartNow(const DesktopStart& start) {
    ComApartment apartment;  // outlives every pointer below
    if (!apartment.Usable()) return false;
    ComPtr<IShellDispatch2> shell = DesktopAutomation();
    if (!shell) return false;
    Bstr file(start.file);
    Variant parameters(start.parameters), directory(start.directory), verb(start.verb), show(start.show);
    if (!file.get() || parameters.empty() || directory.empty() || verb.empty()) return false;
    // Once a desktop shell has it, what it makes of the start is its own:
    // a refusal is never retried with this process's token.
    shell->ShellExecute(file.get(), parameters.value(), directory.value(), verb.value(), show.value());
    return true;
}

}  // namespace

bool TakenWithin(std::function<bool()> start, unsigned limitMs) {
    // Shared by the caller and the thread, so the thread may outlive the
    // wait: a shell that answers late still finds all it uses.
    auto answers = std::make_shared<BoundedQueue<bool>>(1);
    auto ask = [answers, start = std::move(start)] { answers->push(start()); };
    try {
        std::thread(ask).detach();
    } catch (const std::system_error&) {
        ask();  // no thread to be had: asked here, as it was before
    }
    bool taken = false;
    if (!answers->popWithin(taken, std::chrono::milliseconds(limitMs))) return true;
    return taken;
}

bool StartOnDesktop(const DesktopStart& start) {
    return TakenWithin([start] { return StartNow(start); }, kDesktopAnswerMs);
}
