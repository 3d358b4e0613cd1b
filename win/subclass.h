// A C++ object that takes over a control a dialog template made: T's
// `LRESULT WindowProc(UINT, WPARAM, LPARAM)` sees every message first, and returns
// DefaultProc(...) for what it leaves to the control.
//
// comctl32's SetWindowSubclass rather than swapping GWLP_WNDPROC: several subclasses of one
// window then chain correctly whatever order they come and go in.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "win/system_dlls.h"

namespace win {

template <typename T>
class SubclassedWindow {
 public:
  SubclassedWindow() noexcept = default;
  // An object that goes before its window leaves the control working as it was.
  ~SubclassedWindow() { Unsubclass(); }
  SubclassedWindow(const SubclassedWindow&) = delete;
  SubclassedWindow& operator=(const SubclassedWindow&) = delete;

  // Fails on a null or foreign handle, or when this object is attached already.
  bool SubclassWindow(HWND window) noexcept {
    if (hwnd_ || !window || !IsWindow(window)) return false;
    if (!win::SetWindowSubclass(window, &SubclassedWindow::Proc, SubclassId(), reinterpret_cast<DWORD_PTR>(this)))
      return false;
    hwnd_ = window;
    return true;
  }

  HWND hwnd() const noexcept { return hwnd_; }

 protected:
  // The control's own handling, and that of any subclass attached before us.
  LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return win::DefSubclassProc(hwnd_, message, wParam, lParam);
  }

 private:
  // One id per C++ class: two different classes may take over the same window.
  static UINT_PTR SubclassId() noexcept { return reinterpret_cast<UINT_PTR>(&SubclassedWindow::Proc); }

  void Unsubclass() noexcept {
    if (!hwnd_) return;
    win::RemoveWindowSubclass(hwnd_, &SubclassedWindow::Proc, SubclassId());
    hwnd_ = nullptr;
  }

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<SubclassedWindow*>(data);
    if (message == WM_NCDESTROY) {
      // The last message: the control still sees it, and the object lets go of the handle.
      self->Unsubclass();
      return win::DefSubclassProc(window, message, wParam, lParam);
    }
    // Nothing may unwind into the system's frames: a message whose handling threw goes
    // to the control's own procedure, as if T didn't handle it.
    try {
      return static_cast<T*>(self)->WindowProc(message, wParam, lParam);
    } catch (...) {
      return win::DefSubclassProc(window, message, wParam, lParam);
    }
  }

  HWND hwnd_ = nullptr;
};

}  // namespace win
