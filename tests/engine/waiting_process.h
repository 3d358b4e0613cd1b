// A copy of a fixture executable running with the argument "wait" (it then stays for a
// minute), ended when the object goes.
#pragma once

#include <string>

#include "tests/support/process.h"

namespace test {

class WaitingProcess : public Process {
 public:
  explicit WaitingProcess(const std::wstring& exe) : Process(exe, L"wait") {}
};

}  // namespace test
