// Makes the non-throwing operator new of this test executable fail on request, for the
// code paths that must keep going without memory.
#pragma once

namespace test {

// While an instance lives, every new (std::nothrow) of the process returns null.
class NothrowNewFails {
 public:
  NothrowNewFails();
  ~NothrowNewFails();
  NothrowNewFails(const NothrowNewFails&) = delete;
  NothrowNewFails& operator=(const NothrowNewFails&) = delete;
};

}  // namespace test
