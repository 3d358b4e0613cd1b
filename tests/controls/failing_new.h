// Makes operator new of this test executable fail on request, for the code paths that
// must keep going without memory.
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

// While an instance lives, every throwing new of the process throws std::bad_alloc.
class NewThrows {
 public:
  NewThrows();
  ~NewThrows();
  NewThrows(const NewThrows&) = delete;
  NewThrows& operator=(const NewThrows&) = delete;
};

}  // namespace test
