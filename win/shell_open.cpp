#include "win/shell_open.h"

#include <windows.h>
#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "win/handles.h"

namespace win {

namespace {

// A VARIANT that is cleared when it goes: the BSTRs in it are ours.
class Variant {
 public:
  Variant() noexcept { ::VariantInit(&value_); }
  explicit Variant(const wchar_t* text) noexcept : Variant() {
    value_.vt = VT_BSTR;
    value_.bstrVal = ::SysAllocString(text);
  }
  explicit Variant(int number) noexcept : Variant() {
    value_.vt = VT_I4;
    value_.lVal = number;
  }
  ~Variant() { ::VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() noexcept { return &value_; }
  // An empty VARIANT stands for "no parameters", "no directory"; a string that couldn't
  // be made would silently become one.
  bool valid() const noexcept { return value_.vt != VT_BSTR || value_.bstrVal; }

 private:
  VARIANT value_;
};

// Explorer's Shell.Application object, reached through its desktop window. Null when there
// is no desktop shell to reach. Shell.Application made with CoCreateInstance would live in
// this process instead.
ComPtr<IShellDispatch2> DesktopShell() noexcept {
  ComPtr<IShellDispatch2> none;
  // Out of process only: the registry of shell windows that the running shell keeps.
  ComPtr<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.put_void())))
    return none;

  Variant location(CSIDL_DESKTOP);
  Variant root;
  long desktopWindow = 0;
  ComPtr<IDispatch> desktop;
  // S_FALSE, with no object, when the shell has no desktop window (another shell's desktop).
  if (windows->FindWindowSW(location.get(), root.get(), SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                            desktop.put()) != S_OK ||
      !desktop)
    return none;

  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.put_void())) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
      FAILED(browser->QueryActiveShellView(view.put())) || !view ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) || !background ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) ||
      FAILED(folderView->get_Application(application.put())) || !application ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void())))
    return none;
  return shell;
}

}  // namespace

bool OpenThroughDesktopShell(const std::wstring& url) noexcept {
  const ComPtr<IShellDispatch2> shell = DesktopShell();
  if (!shell) return false;
  const BSTR file = ::SysAllocString(url.c_str());
  Variant parameters;
  Variant directory;
  Variant verb(L"open");
  Variant show(SW_SHOWNORMAL);
  if (!file || !verb.valid()) {
    ::SysFreeString(file);
    return false;
  }
  // Runs in Explorer. A failure to reach it (it ended since) is a failure here; a URL that
  // Explorer reached but could not open (S_FALSE) is not: opening it from here instead
  // would start whatever is found as administrator.
  const HRESULT result = shell->ShellExecute(file, *parameters.get(), *directory.get(), *verb.get(), *show.get());
  ::SysFreeString(file);
  return SUCCEEDED(result);
}

void OpenInBrowser(const std::wstring& url) noexcept {
  if (OpenThroughDesktopShell(url)) return;
  ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace win
