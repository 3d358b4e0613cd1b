// How the main window answers while a large scan runs, and how soon a stop brings the
// offer: the real program, worked from outside as a person works it.
//
//   responsiveness.exe [--files N] [--dirs N] [--root PATH] [--program PATH]
//
// Builds the tree (default 200,000 small files in 2,000 directories under T:\resptree) if
// it isn't there, then:
//   answers  the program scans the whole tree; every 20 ms this thread asks the main window
//            for an answer (WM_NULL) and times it: the longest wait and the 99th percentile
//   stop     the program scans it again, stop is pressed after three seconds, and the time
//            until the offer shows is taken
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/program.h"
#include "tests/support/test_support.h"

namespace {

struct Options {
  int files = 200000;
  int dirs = 2000;
  std::wstring root = L"T:\\resptree";
  std::wstring program;
};

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool BuildTree(const Options& o) {
  if (test::Exists(o.root + L"\\done")) return true;
  CreateDirectoryW(o.root.c_str(), nullptr);
  for (int d = 0; d < o.dirs; ++d) CreateDirectoryW((o.root + L"\\d" + std::to_wstring(d)).c_str(), nullptr);
  for (int f = 0; f < o.files; ++f)
    if (!test::WriteBytes(o.root + L"\\d" + std::to_wstring(f % o.dirs) + L"\\f" + std::to_wstring(f) + L".txt", "x"))
      return false;
  return test::WriteBytes(o.root + L"\\done", "");
}

// Starts a run over the tree and returns once the walk is under way.
bool StartRun(e2e::ProgramRun& run, const Options& o) {
  if (!run.Start(o.program)) return false;
  run.SetText(1014, o.root);
  run.Click(1008);
  return test::PumpUntil([&] { return run.PromptText() == L"正在扫描..."; }, 60000);
}

void Decline(e2e::ProgramRun& run, HWND offer) {
  e2e::ProgramRun::Click(GetDlgItem(offer, 2));
  test::PumpUntil([&] { return !IsWindow(offer); }, 10000);
  run.Close();
  run.WaitForExit(30000);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring flag = argv[i];
    if (flag == L"--files")
      o.files = _wtoi(argv[i + 1]);
    else if (flag == L"--dirs")
      o.dirs = _wtoi(argv[i + 1]);
    else if (flag == L"--root")
      o.root = argv[i + 1];
    else if (flag == L"--program")
      o.program = argv[i + 1];
  }
  if (o.program.empty()) o.program = test::ExeDir() + L"MarrowFinchKiller.exe";
  std::printf("tree: %d files in %d directories under %ls\n", o.files, o.dirs, o.root.c_str());
  std::fflush(stdout);
  if (o.files < 1 || o.dirs < 1 || !BuildTree(o)) {
    std::fprintf(stderr, "could not build the tree\n");
    return 1;
  }

  // The whole run, answered every 20 ms.
  e2e::ProgramRun run;
  if (!StartRun(run, o)) return 1;
  std::vector<double> waits;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  HWND offer = nullptr;
  while (!(offer = run.WaitForWindow(test::kOfferTitle, 20))) {
    LARGE_INTEGER before, after;
    DWORD_PTR ignored = 0;
    QueryPerformanceCounter(&before);
    SendMessageTimeoutW(run.main(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    QueryPerformanceCounter(&after);
    waits.push_back(Milliseconds(before, after));
  }
  QueryPerformanceCounter(&end);
  const std::wstring summary = run.Text(GetDlgItem(offer, 1019));
  Decline(run, offer);
  std::sort(waits.begin(), waits.end());
  if (waits.empty()) waits.push_back(0);
  std::printf("run      %.1f s, %zu probes; answers: longest %.1f ms, 99th percentile %.1f ms, median %.2f ms\n",
              Milliseconds(start, end) / 1000.0, waits.size(), waits.back(), waits[waits.size() * 99 / 100],
              waits[waits.size() / 2]);
  std::printf("summary  %s\n", test::Utf8(summary).c_str());

  // Stop after three seconds.
  e2e::ProgramRun stopped;
  if (!StartRun(stopped, o)) return 1;
  test::PumpUntil([] { return false; }, 3000);
  QueryPerformanceCounter(&start);
  e2e::ProgramRun::Click(GetDlgItem(stopped.main(), 1008));
  offer = stopped.WaitForWindow(test::kOfferTitle, 60000);
  QueryPerformanceCounter(&end);
  if (!offer) return 1;
  std::printf("stop     the offer showed %.1f ms after the press: %s\n", Milliseconds(start, end),
              test::Utf8(stopped.Text(GetDlgItem(offer, 1019))).c_str());
  Decline(stopped, offer);
  return 0;
}
