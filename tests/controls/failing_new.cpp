#include "tests/controls/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> gFail{false};
}

namespace test {
NothrowNewFails::NothrowNewFails() { gFail = true; }
NothrowNewFails::~NothrowNewFails() { gFail = false; }
}  // namespace test

// Replaces the library's versions for the whole executable. The throwing forms are left
// to the library: only code that asks not to throw is meant to meet a failure here.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (gFail) return nullptr;
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (gFail) return nullptr;
  return std::malloc(size ? size : 1);
}
