// The process-wide objects, in the order the runtime constructs them before wWinMain runs
// (and destroys them in reverse after it has returned):
//
//  0. The DLL search restriction, before any other object of any unit: from then on no
//     DLL is looked for in the program's folder (win/system_dlls.h). The reporter's thread
//     loads WinINet, and WinINet loads DLLs of its own; all of that must find the system's.
//  1. The window layer's own records. It keeps none: its resource instance is the
//     linker's __ImageBase, and its module object is ours (3). Ahead of the reporter there
//     are only the C and C++ runtimes, which are ready before any constructor runs; the
//     reporter's strings are std::wstring on the runtime's heap and need no manager of
//     their own.
//  2. The usage reporter. Its constructor loads (or creates) the machine identifier and
//     hands the start-up report to a thread of its own; nobody waits for that thread. The
//     thread shares nothing with the objects here: it owns its copy of the identifier, so
//     the reporter's destruction at exit can't pull anything from under it.
//  3. The module object. It is initialised and terminated by wWinMain and holds nothing.
//
// The order holds because the three are defined here, in one translation unit: C++
// constructs a unit's objects in the order of their definitions and destroys them in
// reverse, whichever order the linker puts the object files in. Across units the order
// would be left to the link order, so no other file may define a process-wide object that
// these depend on, and none of these may be moved elsewhere.
#include "app/process_objects.h"

#include "win/system_dlls.h"

namespace {

struct DllSearchRestriction {
  DllSearchRestriction() noexcept { win::RestrictDllSearch(); }
};
// The lowest priority a program may give runs before every object without one, in
// whichever unit; only the C and C++ runtimes' own set-up comes earlier.
__attribute__((init_priority(101))) const DllSearchRestriction gDllSearchRestriction;

}  // namespace

report::CUsageReporter gUsageReporter;
win::CAppModule gModule;
