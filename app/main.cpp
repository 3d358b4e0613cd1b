#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "ui/main_dlg.h"
#include "win/module.h"

// The module object: our resources and the main thread. The full start-up sequence comes later.
win::CAppModule gModule;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The folder browser and the shell link object need a single-threaded apartment.
  CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  gModule.Init(instance);

  INT_PTR result;
  {
    ui::CMainDlg dialog;
    result = dialog.DoModal(GetActiveWindow());
  }

  gModule.Term();
  CoUninitialize();
  return static_cast<int>(result);
}
