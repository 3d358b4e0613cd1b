// The identifier's registry key in the test prefix, seen from either registry view, and a
// guard that puts both views back as they were.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test {

// KEY_WOW64_32KEY or KEY_WOW64_64KEY.
using RegistryView = REGSAM;

struct StoredValue {
  bool keyExists = false;
  bool valueExists = false;
  DWORD type = REG_NONE;
  std::string bytes;
};

// The key's default value as stored in one view.
StoredValue ReadMachineIdValue(RegistryView view);
// Creates the key if needed and stores the default value as given.
bool WriteMachineIdValue(RegistryView view, DWORD type, const std::string& bytes);
// Deletes the key with everything under it; true when it is gone afterwards.
bool DeleteMachineIdKey(RegistryView view);

// "00112233..." for the bytes, as the identifier spells them.
std::wstring HexOf(const std::string& bytes);
// The bytes from..to-1 in order, e.g. Sequence(0, 16) = 00 01 .. 0F.
std::string Sequence(int from, int to);

// Saves the key (every value) in both views and restores it when it goes.
class MachineIdKeyGuard {
 public:
  MachineIdKeyGuard();
  ~MachineIdKeyGuard();
  MachineIdKeyGuard(const MachineIdKeyGuard&) = delete;
  MachineIdKeyGuard& operator=(const MachineIdKeyGuard&) = delete;

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::string bytes;
  };
  struct Snapshot {
    RegistryView view;
    bool existed = false;
    std::vector<Value> values;
  };
  static Snapshot Take(RegistryView view);
  static void Restore(const Snapshot& snapshot);
  Snapshot views_[2];
};

}  // namespace test
