#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "ui/main_dlg.h"
#include "win/module.h"

win::CAppModule _Module;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The folder browser and the shell link object need a single-threaded apartment.
  CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  _Module.Init(instance);

  INT_PTR result;
  {
    ui::CMainDlg dialog;
    result = dialog.DoModal(GetActiveWindow());
  }

  _Module.Term();
  CoUninitialize();
  return static_cast<int>(result);
}
