#include "app/product_folder.h"

namespace app {

std::wstring ProductFolderPath(const std::wstring& commonAppData) {
  // Without a folder the name alone would be a relative path, looked up in whatever the
  // current directory happens to be.
  if (commonAppData.empty()) return {};
  std::wstring path = commonAppData;
  if (path.back() != L'\\') path += L'\\';
  return path + kProductFolderName;
}

}  // namespace app
