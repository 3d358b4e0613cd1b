// The entry routine: the process frame around the main dialog. The process-wide objects
// (process_objects.cpp) have been constructed before it runs, and the start-up report is
// already on its way.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "app/process_objects.h"
#include "app/product_folder.h"
#include "ui/main_dlg.h"
#include "win/os.h"
#include "win/system_dlls.h"

namespace {

// Reports once when the maker's data folder is missing. Anything at that path counts as
// present, a plain file too: only its absence is of interest. A path that can't be made
// (std::bad_alloc) checks nothing and reports nothing; the start goes on.
void CheckProductFolder() noexcept try {
  wchar_t folder[MAX_PATH] = {};
  // On failure the buffer stays empty, and there is nothing to check.
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  const std::wstring path = app::ProductFolderPath(folder);
  if (path.empty()) return;
  if (win::os::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    gUsageReporter.SendUsageReport(report::REPORT_ACTION_NO_PRODUCT_FOLDER);
} catch (...) {
}

// Runs the main dialog. -1 when it can't be created, and also when what its object needs
// can't be had: nothing may unwind out of the entry routine into the runtime's frames.
// A worker that outlived the dialog is stuck in a call the system won't cut short. It must
// neither keep the program alive nor run on while the runtime tears down what it uses, so
// the process ends here. Whatever it was restoring stays whole: the new file is deleted by
// the system when its handle goes, the infected file and its copy are as they were.
INT_PTR RunMainDialog() noexcept try {
  ui::CMainDlg dialog;
  // No window of ours exists yet, so this is normally no owner at all.
  const INT_PTR result = dialog.DoModal(GetActiveWindow());
  if (dialog.WorkerStillRunning()) win::os::TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
} catch (...) {
  return -1;
}

}  // namespace

// The command line is ignored: the tool has no options.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Done already before the process-wide objects (process_objects.cpp); again here so that
  // the entry routine's own guarantee doesn't rest on them. No DLL from the program's folder.
  win::RestrictDllSearch();

  // The folder browser and the shell link object need a single-threaded apartment. None
  // of the start-up calls stops the start when it fails.
  CoInitialize(nullptr);

  // A first call into the window manager's Unicode default procedure before any window
  // exists, as the window framework's programs have always started: on systems where the
  // Unicode window functions come from a compatibility layer it binds them here. It has
  // no effect otherwise.
  DefWindowProcW(nullptr, 0, 0, 0);

  // The size is that of the structure's first version (8 bytes), which every version of
  // the common controls accepts. This first call loads comctl32, from its version 6
  // assembly, now that the DLL search is restricted (win/system_dlls.h).
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  static_assert(sizeof controls == 8, "INITCOMMONCONTROLSEX is two DWORDs");
  win::InitCommonControlsEx(&controls);

  CheckProductFolder();

  gModule.Init(instance);

  // The dialog object goes before the module is terminated.
  const INT_PTR result = RunMainDialog();

  gModule.Term();
  CoUninitialize();
  // 1 or 2, the command that ended the dialog; -1 when it never opened.
  return static_cast<int>(result);
}
