#include "engine/scan_context.h"

#include <new>

namespace engine {

bool NameLog::Add(const std::wstring& name) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.insert(name);
    any_ = true;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool NameLog::Has(const std::wstring& name) const {
  if (!any_.load()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return names_.count(name) != 0;
}

}  // namespace engine
