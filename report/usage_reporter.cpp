#include "report/usage_reporter.h"

#include <memory>
#include <new>

#include "hosts.h"
#include "report/http_get.h"
#include "report/machine_id.h"
#include "win/os.h"

namespace report {

namespace {

// "http://<report host>/feed/feedkb.php?m=<id>&c=<product>&a=<action>". Nothing is
// escaped: an identifier holds hex digits only.
std::wstring FormatReportUrl(const ReportRecord& record) {
  return std::wstring(L"http://") + hosts::kReportHost + L"/feed/feedkb.php?m=" + record.machineId + L"&c=" +
         std::to_wstring(record.productCode) + L"&a=" + std::to_wstring(record.action);
}

}  // namespace

DWORD WINAPI ReportThreadProc(void* parameter) {
  // The worker owns the record and the URL outright: the process may be tearing down its
  // own objects while a report is still in flight.
  const std::unique_ptr<ReportRecord> record(static_cast<ReportRecord*>(parameter));
  // Nothing may unwind out of a thread's entry routine: a report whose URL can't be made
  // (std::bad_alloc) is not sent.
  try {
    const std::wstring url = FormatReportUrl(*record);
    HttpGet(url.c_str());  // nobody looks at the outcome
  } catch (...) {
  }
  return 0;
}

// A process-wide object: an exception out of here would end the process before wWinMain.
CUsageReporter::CUsageReporter() noexcept {
  try {
    machineId_ = LoadMachineId();
  } catch (...) {
    machineId_.clear();  // reported with an empty identifier, as when the registry fails
  }
  SendUsageReport(REPORT_ACTION_STARTUP);
}

void CUsageReporter::SendUsageReport(int32_t action) const noexcept {
  std::unique_ptr<ReportRecord> record(new (std::nothrow) ReportRecord);
  if (!record) return;
  try {
    record->machineId = machineId_;
  } catch (...) {
    return;  // no copy of the identifier, no report
  }
  record->action = action;
  record->productCode = productCode_;

  HANDLE thread = CreateThread(nullptr, 0, ReportThreadProc, record.get(), 0, nullptr);
  if (!thread) return;  // the record goes with this scope; the report is lost
  record.release();     // now the worker's
  win::os::CloseHandle(thread);  // never joined
}

}  // namespace report
