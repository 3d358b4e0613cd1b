// Windows's own rules at the door to the system (win/os.h), for code that runs under Wine.
//
// Wine answers many calls that Windows refuses: information queries on a handle without
// the right for them, an open of a file whose deletion is pending, a deletion of a
// read-only file, and it enforces no access list at all. The checker decorates every entry
// of the door: it records the access each handle was granted as Windows grants it, checks
// every call against one table of rules, and refuses what Windows would refuse with
// Windows's answer, so that the code under test takes Windows's path. Each refusal is
// reported; the tests fail on any they don't expect.
//
// What only Windows holds (access lists, critical processes) is modelled: a test says
// which file, key or process denies what.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace rules {

struct Rule {
  const char* operation;
  ACCESS_MASK needs;  // the right the handle must have; 0 for a rule about the object's state
  LONG status;        // what Windows answers otherwise
  DWORD error;        // and the last error a Win32 call then leaves
  const char* source;
};

enum RuleId {
  kQueryAttributes,  // FileAttributeTagInformation, FileBasicInformation, FileNetworkOpenInformation
  kQueryAll,         // FileAllInformation: GetFileInformationByHandle
  kSetBasic,
  kDisposition,
  kRename,
  kRead,
  kWrite,
  kFlush,
  kIoctlRead,
  kIoctlWrite,
  kReadSecurity,
  kReadSacl,
  kWriteDacl,
  kWriteOwner,
  kListDirectory,
  kProcessQuery,
  kProcessTerminate,
  kTokenAdjust,
  kTokenQuery,
  kRegistryQuery,
  kRegistrySet,
  kDispositionReadOnly,
  kOpenDeletePending,
  kRenameDeletePending,
  kDirectoryWithoutBackupSemantics,
  kFileAccessList,
  kKeyAccessList,
  kProcessAccessList,
  kTerminateCritical,
  kRuleCount
};
extern const Rule kRules[kRuleCount];

// Decorates the door's table, once per process; `onRefusal` hears of each refusal, on the
// thread that made the call.
void Install(std::function<void(RuleId rule, const std::string& message)> onRefusal);
bool Installed();
long CallsChecked();
long CallsRefused();
// "Windows rules: N calls checked, M refused"
std::string Summary();

// What Windows would hold. `path` names a file or directory, which must exist; the access
// list denies the caller `denied` on it, which the backup privilege lifts for reading.
void DenyFile(const std::wstring& path, ACCESS_MASK denied);
// A key under HKEY_LOCAL_MACHINE, its access list denying `denied` to the caller.
void DenyKey(const std::wstring& subKey, REGSAM denied);
// A process that grants the caller only `granted`, whatever its privileges.
void LimitProcess(DWORD processId, ACCESS_MASK granted);
// A critical process: ending it stops the system.
void MakeCritical(DWORD processId);
// Forgets the models above.
void ClearModels();

// Whether SeBackupPrivilege is enabled in this process's token now, which backup intent
// counts on.
bool BackupPrivilegeOn();

// Generic rights mapped as for files.
ACCESS_MASK MapFileAccess(ACCESS_MASK access);

}  // namespace rules
