// Modal dialogs from templates. The object is bound to its window when WM_INITDIALOG
// arrives (its address travels as the dialog's creation parameter and is kept in the
// window's DWLP_USER slot); from then on every message goes to the class's one dispatch,
// ProcessWindowMessage, which sets the result and says whether it handled the message.
// Messages it leaves alone get the system's default dialog handling.
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

  // The class's message map: tests the message numbers in its own order, stores the
  // message's result in `result` and returns true when it handled the message.
  virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

  // Ends a modal run with `result`, which DoModal then returns. The window goes away
  // once the handler that called this has returned to the dialog's message loop.
  bool EndDialog(INT_PTR result) const noexcept { return ::EndDialog(m_hWnd, result) != FALSE; }

 protected:
  INT_PTR RunModal(int templateId, HWND owner) {
    return ::DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(templateId), owner, &DialogProc,
                             reinterpret_cast<LPARAM>(this));
  }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

// T names its template in `enum { IDD = ... }`.
template <class T>
class CDialogImpl : public CDialogImplBase {
 public:
  // Shows the dialog and runs it until EndDialog. Returns EndDialog's result, or -1 when
  // the dialog can't be created. A null owner: none.
  INT_PTR DoModal(HWND owner) { return RunModal(T::IDD, owner); }
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
  // WM_SETFONT and the creation messages come before WM_INITDIALOG: system handling.
  if (!self) return FALSE;

  LRESULT result = 0;
  bool handled = false;
  // Nothing may unwind into the system's frames above this one. A handler that throws
  // (std::bad_alloc from string work, above all) leaves the message to the system's
  // default handling, as one that doesn't handle it: nothing of its own is shown.
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
    // These few return their result directly instead of through DWLP_MSGRESULT.
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
