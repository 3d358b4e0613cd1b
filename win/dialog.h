// Modal dialogs from templates. The object's address travels as the dialog's creation
// parameter and is kept in DWLP_USER at WM_INITDIALOG; from then on every message goes to
// the class's one dispatch, ProcessWindowMessage.
#pragma once

#include <windows.h>

#include "win/module.h"
#include "win/window.h"

namespace win {

class CDialogImplBase : public CWindow {
 public:
  CDialogImplBase() noexcept = default;
  CDialogImplBase(const CDialogImplBase&) = delete;
  CDialogImplBase& operator=(const CDialogImplBase&) = delete;
  virtual ~CDialogImplBase() = default;

  // Stores the message's result in `result` and returns true when it handled the message;
  // the others get the system's default dialog handling.
  virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

  // DoModal returns `result`. The window goes once the calling handler has returned.
  bool EndDialog(INT_PTR result) const noexcept { return ::EndDialog(m_hWnd, result) != FALSE; }

 protected:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

// T names its template in `enum { IDD = ... }`.
template <class T>
class CDialogImpl : public CDialogImplBase {
 public:
  // EndDialog's result, or -1 when the dialog can't be created. A null owner: none.
  INT_PTR DoModal(HWND owner) {
    CDialogImplBase* self = this;
    return ::DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(T::IDD), owner, &DialogProc,
                             reinterpret_cast<LPARAM>(self));
  }
};

inline INT_PTR CALLBACK CDialogImplBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialogImplBase* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogImplBase*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_hWnd = window;
  } else {
    self = reinterpret_cast<CDialogImplBase*>(::GetWindowLongPtrW(window, DWLP_USER));
  }
  // WM_SETFONT and the creation messages come before WM_INITDIALOG.
  if (!self) return FALSE;

  LRESULT result = 0;
  bool handled = false;
  // Nothing may unwind into the system's frames. A handler that throws (std::bad_alloc,
  // above all) leaves the message to the default handling, as one that didn't handle it.
  try {
    handled = self->ProcessWindowMessage(window, message, wParam, lParam, result);
  } catch (...) {
    handled = false;
    result = 0;
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    return handled ? TRUE : FALSE;
  }
  if (!handled) return FALSE;

  switch (message) {
    // These return their result directly instead of through DWLP_MSGRESULT.
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return static_cast<INT_PTR>(result);
    default:
      ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

}  // namespace win
