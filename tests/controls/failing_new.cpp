#include "tests/controls/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> gFail{false};
std::atomic<bool> gThrow{false};
}  // namespace

namespace test {
NothrowNewFails::NothrowNewFails() { gFail = true; }
NothrowNewFails::~NothrowNewFails() { gFail = false; }
NewThrows::NewThrows() { gThrow = true; }
NewThrows::~NewThrows() { gThrow = false; }
}  // namespace test

// Replaces the library's versions for the whole executable; each form fails only while
// its own switch is on.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (gFail) return nullptr;
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (gFail) return nullptr;
  return std::malloc(size ? size : 1);
}
void* operator new(std::size_t size) {
  void* block = gThrow ? nullptr : std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
