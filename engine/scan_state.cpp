#include "engine/scan_state.h"

namespace engine {

std::wstring FormatProgressLine(int32_t filesScanned, int32_t virusesFound, int32_t filesRestored) {
  std::wstring line = L"已扫描" + std::to_wstring(filesScanned) + L"个文件，";
  if (virusesFound == 0) return line + L"未发现病毒";
  return line + L"查出" + std::to_wstring(virusesFound) + L"个病毒，恢复" + std::to_wstring(filesRestored) + L"个文件";
}

}  // namespace engine
