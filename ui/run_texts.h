// What a run says to the user: its progress line and its final summary.
#pragma once

#include <cstdint>
#include <string>

#include "engine/scan_state.h"

namespace ui {

// The progress line: "已扫描%i个文件，未发现病毒" while nothing was found, otherwise
// "已扫描%i个文件，查出%i个病毒，恢复%i个文件".
std::wstring FormatProgressLine(int32_t filesScanned, int32_t virusesFound, int32_t filesRestored);

// The final summary that the offer shows: "扫描完成，" or "已被用户终止，" followed by
// "未发现病毒" or "查出%i个病毒，恢复%i个文件".
std::wstring FormatFinalSummary(bool stoppedByUser, int32_t virusesFound, int32_t filesRestored);
// The same from a run's state as it stands now.
std::wstring FormatFinalSummary(const engine::ScanState& state);

}  // namespace ui
