// Taking over an existing control: a C++ object attaches to a window that a dialog
// template made, sees every message first in one dispatch function, and hands what it
// does not handle to the control's own window procedure.
//
//   class CMyLabel : public win::SubclassedWindow<CMyLabel> {
//    public:
//     LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);  // one switch
//   };
//
// WindowProc's default case returns DefaultProc(message, wParam, lParam).
//
// Built on comctl32's SetWindowSubclass/DefSubclassProc rather than swapping GWLP_WNDPROC:
// several subclasses of one window then chain correctly whatever order they come and go
// in, and nothing breaks when the control was made by another module. comctl32 is loaded
// from the system folder at first use (win/system_dlls.h).
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
  ~SubclassedWindow() { UnsubclassWindow(); }
  SubclassedWindow(const SubclassedWindow&) = delete;
  SubclassedWindow& operator=(const SubclassedWindow&) = delete;

  // Attaches to an existing window of this thread. Fails on a null or foreign handle,
  // or when this object is attached already.
  bool SubclassWindow(HWND window) noexcept {
    if (hwnd_ || !window || !IsWindow(window)) return false;
    if (!win::SetWindowSubclass(window, &SubclassedWindow::Proc, SubclassId(), reinterpret_cast<DWORD_PTR>(this)))
      return false;
    hwnd_ = window;
    return true;
  }

  // Gives the window back to its own procedure. Returns the window, null if not attached.
  HWND UnsubclassWindow() noexcept {
    HWND window = hwnd_;
    if (!window) return nullptr;
    win::RemoveWindowSubclass(window, &SubclassedWindow::Proc, SubclassId());
    hwnd_ = nullptr;
    return window;
  }

  HWND hwnd() const noexcept { return hwnd_; }

 protected:
  // The control's own handling of a message (and of any subclass attached before us).
  LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return win::DefSubclassProc(hwnd_, message, wParam, lParam);
  }

 private:
  // One id per C++ class: two different classes may take over the same window.
  static UINT_PTR SubclassId() noexcept { return reinterpret_cast<UINT_PTR>(&SubclassedWindow::Proc); }

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    T* self = static_cast<T*>(reinterpret_cast<SubclassedWindow*>(data));
    if (message == WM_NCDESTROY) {
      // The window's last message: the control's own procedure still sees it, and the
      // object lets go of a handle that is about to mean nothing.
      self->UnsubclassWindow();
      return win::DefSubclassProc(window, message, wParam, lParam);
    }
    // Nothing may unwind into the system's frames above this one: a message whose
    // handling threw (std::bad_alloc from string work, above all) goes to the control's
    // own procedure, as if this class didn't handle it.
    try {
      return self->WindowProc(message, wParam, lParam);
    } catch (...) {
      return win::DefSubclassProc(window, message, wParam, lParam);
    }
  }

  HWND hwnd_ = nullptr;
};

}  // namespace win
