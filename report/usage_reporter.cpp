#include "report/usage_reporter.h"

#include <memory>
#include <new>

#include "hosts.h"
#include "report/http_get.h"
#include "report/machine_id.h"

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
  const std::wstring url = FormatReportUrl(*record);
  HttpGet(url.c_str());  // nobody looks at the outcome
  return 0;
}

CUsageReporter::CUsageReporter() : machineId_(LoadMachineId()) { SendUsageReport(REPORT_ACTION_STARTUP); }

void CUsageReporter::SendUsageReport(int32_t action) const {
  std::unique_ptr<ReportRecord> record(new (std::nothrow) ReportRecord);
  if (!record) return;
  record->machineId = machineId_;
  record->action = action;
  record->productCode = productCode_;

  HANDLE thread = CreateThread(nullptr, 0, ReportThreadProc, record.get(), 0, nullptr);
  if (!thread) return;  // the record goes with this scope; the report is lost
  record.release();     // now the worker's
  CloseHandle(thread);  // never joined
}

}  // namespace report
