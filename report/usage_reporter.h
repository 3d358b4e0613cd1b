// The usage reports: one fire-and-forget HTTP GET per event, carrying the machine
// identifier, this product's code and the event's action code. Nobody waits for a
// report or looks at its outcome.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace report {

inline constexpr int32_t REPORT_PRODUCT_CODE = 6;
inline constexpr int32_t REPORT_ACTION_STARTUP = 3;
inline constexpr int32_t REPORT_ACTION_NO_PRODUCT_FOLDER = 4;

// One report, handed to its worker, which owns it from then on and frees it. It holds
// its own copy of the identifier, so it stays valid whatever happens to the reporter.
struct ReportRecord {
  std::wstring machineId;
  int32_t action = 0;
  int32_t productCode = 0;
};

// The report worker: sends the record's report and frees the record. Always returns 0.
DWORD WINAPI ReportThreadProc(void* record);

// Holds the machine identifier and starts reports. The program has exactly one, among its
// process-wide objects; constructing it loads (or creates) the identifier and sends the
// start-up report.
class CUsageReporter {
 public:
  CUsageReporter() noexcept;
  CUsageReporter(const CUsageReporter&) = delete;
  CUsageReporter& operator=(const CUsageReporter&) = delete;

  // Starts one report on a worker thread of its own and returns at once.
  void SendUsageReport(int32_t action) const noexcept;

  // 32 hex digits, or empty when the identifier could be neither read nor created.
  const std::wstring& machineId() const { return machineId_; }
  int32_t productCode() const { return productCode_; }

 private:
  // Written once, by the constructor, before any worker exists; afterwards only read, on
  // the main thread, and copied into each report.
  std::wstring machineId_;
  const int32_t productCode_ = REPORT_PRODUCT_CODE;
};

}  // namespace report
