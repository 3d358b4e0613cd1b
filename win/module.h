// Where our resources are, and the module object the entry routine brackets its run with.
#pragma once

#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace win {

// The module this code is linked into, whichever module started the process: our dialogs,
// icons and bitmaps live there.
inline HINSTANCE ResourceInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// Holds nothing: the resources are ResourceInstance()'s, and every dialog runs the system's
// own modal loop, so there are no message loops or windows to keep track of.
class CAppModule {
 public:
  CAppModule() noexcept = default;
  CAppModule(const CAppModule&) = delete;
  CAppModule& operator=(const CAppModule&) = delete;

  HRESULT Init(HINSTANCE) noexcept { return S_OK; }
  void Term() noexcept {}
};

}  // namespace win
