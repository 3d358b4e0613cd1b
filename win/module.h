// The module object: which module holds our resources and which thread is the program's
// main thread. We run only modal dialogs, each with the system's own message loop, so
// there is no registry of message loops and no window for setting-change notices.
#pragma once

#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace win {

// The module this code is linked into. Our dialogs, icons and bitmaps live there,
// whichever module the process was started from.
inline HINSTANCE ResourceInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

class CAppModule {
 public:
  CAppModule() noexcept = default;
  CAppModule(const CAppModule&) = delete;
  CAppModule& operator=(const CAppModule&) = delete;

  // Records the instance and the calling thread as the main thread.
  HRESULT Init(HINSTANCE instance) noexcept {
    instance_ = instance ? instance : ResourceInstance();
    mainThread_ = ::GetCurrentThreadId();
    return S_OK;
  }
  void Term() noexcept {
    instance_ = nullptr;
    mainThread_ = 0;
  }

 private:
  HINSTANCE instance_ = nullptr;
  DWORD mainThread_ = 0;
};

}  // namespace win
