#include "ui/run_texts.h"

namespace ui {

namespace {

// What both texts say of the infected files.
std::wstring Findings(int32_t virusesFound, int32_t filesRestored) {
  if (virusesFound == 0) return L"未发现病毒";
  return L"查出" + std::to_wstring(virusesFound) + L"个病毒，恢复" + std::to_wstring(filesRestored) + L"个文件";
}

}  // namespace

std::wstring FormatProgressLine(int32_t filesScanned, int32_t virusesFound, int32_t filesRestored) {
  return L"已扫描" + std::to_wstring(filesScanned) + L"个文件，" + Findings(virusesFound, filesRestored);
}

std::wstring FormatFinalSummary(bool stoppedByUser, int32_t virusesFound, int32_t filesRestored) {
  return (stoppedByUser ? L"已被用户终止，" : L"扫描完成，") + Findings(virusesFound, filesRestored);
}

std::wstring FormatFinalSummary(const engine::ScanState& state) {
  return FormatFinalSummary(state.stopRequested.load() != 0, state.virusesFound.load(), state.filesRestored.load());
}

}  // namespace ui
