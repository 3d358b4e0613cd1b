// Scan throughput: how close the real worker comes to the cost of merely looking at every
// file, on a warm cache and on a cold one.
//
//   scan_bench.exe [--files N] [--dirs N] [--root PATH] [--rounds N] [--program PATH]
//                  [--threads N,N,...] [--existing] [--only KIND]
//
// With --existing the tree under --root is taken as it is (scripts/bench.sh --real makes
// one of copies of the prefix's Windows folder). Otherwise it builds the tree (default
// 20,000 files in 1,000 directories under T:\benchtree, about 2% of them executables with
// version resources, a few infected with ".sql" copies), then times, on a warm cache, the
// best of --rounds rounds of:
//   walk       FindFirstFileW/FindNextFileW over the tree, nothing else
//   floor      the walk plus open, read 64 bytes, close for every file: the least a tool on
//              one thread that must look at every file can do
//   version    the walk plus GetFileVersionInfoSizeW for every file
//   probe      the tree listed first (one walk that keeps every file's path), then threads
//              that open, read 64 bytes of and close each file of the list, taking the next
//              from one shared index: as many threads as the program's pool ("probe"), or
//              N for each N of --threads ("probe=N")
//   single     the real scan worker inspecting every file on its walking thread
//              (ScanRequest::inspectors = 1), its progress going to the board a window reads
//   pool       the real scan worker with the program's own choice per drive (inspectors = 0)
//   threads=N  the real scan worker with N inspectors, for each N of --threads
//   program    the whole program (--program PATH, by default MarrowFinchKiller.exe beside
//              this one): started, the tree's directory put in its path box, start pressed,
//              timed from the press until the offer dialog appears
// The infected files are put back before each round of a worker or the program, which
// restore them.
//
// --only KIND does one thing and nothing else, so that a script can empty the system's
// caches between processes and time a cold tree: KIND is one of the measurements above,
// timed once without warming anything and printed as one line
//   result KIND FILES SECONDS FILES_PER_SECOND INFECTED
// or build (make the tree and plant its infected files), reinfect (plant them again) or
// none (start and end: brings Wine and this program's own image into memory).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/program.h"
#include "tests/support/test_support.h"
#include "engine/walk.h"
#include "ui/scan_run.h"
#include "win/handles.h"

namespace {

struct Options {
  int files = 20000;
  int dirs = 1000;
  int rounds = 3;
  std::wstring root = L"T:\\benchtree";
  std::wstring program;
  bool existing = false;
  // Pool sizes to measure besides the single thread and the program's own choice.
  std::vector<int> threads;
  std::wstring only;
};

std::wstring DirPath(const Options& o, int d) {
  // Two levels: 1 top directory per 25 leaves keeps the walk's stack realistic.
  return o.root + L"\\top" + std::to_wstring(d / 25) + L"\\dir" + std::to_wstring(d);
}

// Every 50th file is an executable (a clean one with a version resource); one in ten of
// those is infected and has its former contents beside it.
void InfectedFiles(const Options& o, std::vector<std::wstring>& out) {
  out.clear();
  for (int f = 0; f < o.files; ++f)
    if (f % 500 == 0) out.push_back(DirPath(o, f % o.dirs) + L"\\prog" + std::to_wstring(f) + L".exe");
}

bool BuildTree(const Options& o) {
  const std::wstring clean = test::ExeDir() + L"fixtures\\clean_company.exe";
  CreateDirectoryW(o.root.c_str(), nullptr);
  for (int d = 0; d < o.dirs; ++d) {
    const std::wstring top = o.root + L"\\top" + std::to_wstring(d / 25);
    CreateDirectoryW(top.c_str(), nullptr);
    CreateDirectoryW(DirPath(o, d).c_str(), nullptr);
  }
  for (int f = 0; f < o.files; ++f) {
    const std::wstring dir = DirPath(o, f % o.dirs);
    if (f % 50 == 0) {
      if (f % 500 != 0 && !CopyFileW(clean.c_str(), (dir + L"\\tool" + std::to_wstring(f) + L".exe").c_str(), FALSE))
        return false;
    } else if (!test::WriteBytes(dir + L"\\doc" + std::to_wstring(f) + L".txt",
                                 "plain document " + std::to_string(f))) {
      return false;
    }
  }
  return true;
}

// Infected files are restored by the worker; put them back before each worker round.
bool Reinfect(const Options& o) {
  const std::wstring infected = test::ExeDir() + L"fixtures\\marker_exact.exe";
  std::vector<std::wstring> files;
  InfectedFiles(o, files);
  for (const std::wstring& path : files) {
    if (!CopyFileW(infected.c_str(), path.c_str(), FALSE)) return false;
    if (!test::WriteBytes(path.substr(0, path.size() - 4) + L".sql", "former contents")) return false;
  }
  return true;
}

template <typename PerFile>
int Walk(const std::wstring& root, PerFile perFile) {
  int count = 0;
  std::vector<std::wstring> pending{root};
  WIN32_FIND_DATAW entry;
  while (!pending.empty()) {
    const std::wstring prefix = pending.back() + L"\\";
    pending.pop_back();
    test::FindHandle listing(FindFirstFileW((prefix + L"*.*").c_str(), &entry));
    if (!listing) continue;
    do {
      const wchar_t* name = entry.cFileName;
      if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        pending.push_back(prefix + name);
      } else {
        perFile(prefix + name);
        ++count;
      }
    } while (FindNextFileW(listing.get(), &entry));
  }
  return count;
}

int WalkOnly(const std::wstring& root) {
  return Walk(root, [](const std::wstring&) {});
}

// What the floor and the probe do with each file.
void ReadHead(const std::wstring& path) {
  win::FileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  char head[64];
  DWORD read = 0;
  if (file) ReadFile(file.get(), head, sizeof head, &read, nullptr);
}

int FloorWalk(const std::wstring& root) { return Walk(root, ReadHead); }

// The whole list first, then `threads` threads over it; each takes the next index from the
// one counter they share, so no file is read twice and none waits for another's.
int ProbeWalk(const std::wstring& root, int threads) {
  std::vector<std::wstring> paths;
  Walk(root, [&](const std::wstring& path) { paths.push_back(path); });
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&] {
      for (size_t i = next++; i < paths.size(); i = next++) ReadHead(paths[i]);
    });
  for (std::thread& thread : pool) thread.join();
  return static_cast<int>(paths.size());
}

int VersionWalk(const std::wstring& root) {
  return Walk(root, [](const std::wstring& path) {
    DWORD handle = 0;
    GetFileVersionInfoSizeW(path.c_str(), &handle);
  });
}

double Seconds(const std::function<void()>& body) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  body();
  QueryPerformanceCounter(&end);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The best of several rounds: the least disturbed by the rest of the machine.
double Best(int rounds, const std::function<void()>& prepare, const std::function<void()>& body) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    prepare();
    const double s = Seconds(body);
    if (s < best) best = s;
  }
  return best;
}

// A run over the tree, as a start makes one, its worker started and waited for: its files
// scanned and its viruses found. inspectors goes into the request as the program's would
// carry it (engine/walk.h).
void RunWorker(const std::wstring& root, int inspectors, int& scanned, int& found) {
  const std::shared_ptr<ui::ScanRun> run =
      ui::ScanRun::Make(engine::ScanRequest{false, root, inspectors}, ui::RunSetup{});
  if (!run || !run->Start()) return;
  run->WaitForEnd(INFINITE);
  scanned = run->state.filesScanned;
  found = run->state.virusesFound;
}

// One run of the real program over the tree: seconds from pressing start to the offer, or
// a negative number when the program didn't get there.
double TimeProgram(const Options& o, std::wstring& summary) {
  e2e::ProgramRun run;
  if (!run.Start(o.program)) return -1;
  run.SetText(1014, o.root);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  run.Click(1008);
  const HWND offer = run.WaitForWindow(test::kOfferTitle, 600000);
  QueryPerformanceCounter(&end);
  if (!offer) return -1;
  summary = run.Text(GetDlgItem(offer, 1019));
  e2e::ProgramRun::Click(GetDlgItem(offer, 2));
  test::PumpUntil([&] { return !IsWindow(offer); }, 10000);
  run.Close();
  run.WaitForExit(30000);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Utf8(const std::wstring& text) {
  std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)),
                   0);
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(utf8.empty() ? 0 : utf8.size() - 1);
  return utf8;
}

// The program's pool for the drive holding root (engine::InspectorCount).
int PoolSize(const std::wstring& root) {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  return engine::InspectorCount(system.dwNumberOfProcessors, engine::SeekPenaltyOf(root));
}

// A probe kind's thread count: probe the program's pool, probe=N N; -1 for anything else.
int ProbeThreadsOf(const std::wstring& kind, const std::wstring& root) {
  if (kind == L"probe") return PoolSize(root);
  if (kind.rfind(L"probe=", 0) == 0) {
    const int n = _wtoi(kind.c_str() + 6);
    return n >= 1 ? n : -1;
  }
  return -1;
}

// A worker kind's inspector count: single 1, pool 0 (the program's choice), threads=N N;
// -1 for anything else.
int InspectorsOf(const std::wstring& kind) {
  if (kind == L"single") return 1;
  if (kind == L"pool") return 0;
  if (kind.rfind(L"threads=", 0) == 0) {
    const int n = _wtoi(kind.c_str() + 8);
    return n >= 1 ? n : -1;
  }
  return -1;
}

// --only: one measurement, timed once, with nothing warmed first: the caller decides what
// is in the caches. The tree is taken as it is; the caller plants the infected files
// (--only reinfect) before it empties the caches, so that the planting's writes aren't
// what is measured.
int RunOnly(const Options& o) {
  if (o.only == L"none") return 0;
  if (o.only == L"build") {
    if (!BuildTree(o) || !Reinfect(o)) {
      std::fprintf(stderr, "could not build the tree (error %lu)\n", GetLastError());
      return 1;
    }
    return 0;
  }
  if (o.only == L"reinfect") {
    if (!Reinfect(o)) {
      std::fprintf(stderr, "could not plant the infected files (error %lu)\n", GetLastError());
      return 1;
    }
    return 0;
  }
  int files = 0, infected = 0;
  double seconds = 0;
  const int inspectors = InspectorsOf(o.only);
  const int probeThreads = ProbeThreadsOf(o.only, o.root);
  if (o.only == L"walk") {
    seconds = Seconds([&] { files = WalkOnly(o.root); });
  } else if (o.only == L"floor") {
    seconds = Seconds([&] { files = FloorWalk(o.root); });
  } else if (o.only == L"version") {
    seconds = Seconds([&] { files = VersionWalk(o.root); });
  } else if (probeThreads >= 1) {
    seconds = Seconds([&] { files = ProbeWalk(o.root, probeThreads); });
  } else if (inspectors >= 0) {
    seconds = Seconds([&] { RunWorker(o.root, inspectors, files, infected); });
  } else if (o.only == L"program") {
    std::wstring summary;
    seconds = TimeProgram(o, summary);
    if (seconds < 0) {
      std::fprintf(stderr, "the program run failed\n");
      return 1;
    }
    // The program's own count isn't ours to read; the walk after it costs nothing timed.
    files = WalkOnly(o.root);
  } else {
    std::fprintf(stderr, "unknown measurement: %ls\n", o.only.c_str());
    return 2;
  }
  std::printf("result %ls %d %.4f %.1f %d\n", o.only.c_str(), files, seconds, files / seconds, infected);
  return 0;
}

bool ParseThreads(const wchar_t* list, std::vector<int>& out) {
  out.clear();
  const wchar_t* p = list;
  while (*p) {
    wchar_t* end = nullptr;
    const long n = std::wcstol(p, &end, 10);
    if (end == p || n < 1 || n > 256) return false;
    out.push_back(static_cast<int>(n));
    p = end;
    if (*p == L',') ++p;
  }
  return !out.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options o;
  bool usable = true;
  for (int i = 1; i < argc; ++i) {
    const std::wstring flag = argv[i];
    if (flag == L"--existing") {
      o.existing = true;
      continue;
    }
    if (i + 1 >= argc) {
      usable = false;
      break;
    }
    const wchar_t* value = argv[++i];
    if (flag == L"--files")
      o.files = _wtoi(value);
    else if (flag == L"--dirs")
      o.dirs = _wtoi(value);
    else if (flag == L"--rounds")
      o.rounds = _wtoi(value);
    else if (flag == L"--root")
      o.root = value;
    else if (flag == L"--program")
      o.program = value;
    else if (flag == L"--threads")
      usable = usable && ParseThreads(value, o.threads);
    else if (flag == L"--only")
      o.only = value;
    else
      usable = false;
  }
  if (o.program.empty()) o.program = test::ExeDir() + L"MarrowFinchKiller.exe";
  if (!usable || o.files < 1 || o.dirs < 1 || o.rounds < 1) {
    std::fprintf(stderr,
                 "usage: scan_bench [--files N] [--dirs N] [--root PATH] [--rounds N] [--program PATH]\n"
                 "                  [--threads N,N,...] [--existing] [--only KIND]\n"
                 "KIND: walk floor version probe probe=N single pool threads=N program | build reinfect none\n");
    return 2;
  }
  if (!o.only.empty()) return RunOnly(o);

  if (o.existing) {
    std::printf("the tree under %ls as it is\n", o.root.c_str());
  } else {
    std::printf("building %d files in %d directories under %ls ...\n", o.files, o.dirs, o.root.c_str());
  }
  std::fflush(stdout);
  // An existing tree has no infected files of ours to put back before each round.
  const auto reinfect = [&] { return o.existing || Reinfect(o); };
  if (!o.existing && (!BuildTree(o) || !Reinfect(o))) {
    std::fprintf(stderr, "could not build the tree (error %lu)\n", GetLastError());
    return 1;
  }

  int walked = 0;
  const auto nothing = [] {};
  WalkOnly(o.root);  // warm the cache
  const double walk = Best(o.rounds, nothing, [&] { walked = WalkOnly(o.root); });
  const double floor = Best(o.rounds, nothing, [&] { FloorWalk(o.root); });
  const double version = Best(o.rounds, nothing, [&] { VersionWalk(o.root); });

  // The probe with the pool's size, and with each size of --threads.
  struct ProbeKind {
    std::string name;
    int threads;
    double seconds = 0;
  };
  std::vector<ProbeKind> probes{{"probe", PoolSize(o.root)}};
  for (int n : o.threads) probes.push_back({"probe=" + std::to_string(n), n});
  for (ProbeKind& p : probes) p.seconds = Best(o.rounds, nothing, [&] { ProbeWalk(o.root, p.threads); });

  struct WorkerKind {
    std::string name;
    int inspectors;
    double seconds = 0;
    int scanned = 0, found = 0;
  };
  std::vector<WorkerKind> workers{{"single", 1}, {"pool", 0}};
  for (int n : o.threads) workers.push_back({"threads=" + std::to_string(n), n});
  for (WorkerKind& w : workers) {
    w.seconds = Best(
        o.rounds, [&] { reinfect(); }, [&] { RunWorker(o.root, w.inspectors, w.scanned, w.found); });
  }

  std::wstring summary;
  double program = 1e30;
  for (int r = 0; r < o.rounds; ++r) {
    reinfect();
    const double s = TimeProgram(o, summary);
    if (s < 0) {
      std::fprintf(stderr, "the program run failed\n");
      return 1;
    }
    if (s < program) program = s;
  }

  const auto rate = [&](double s) { return walked / s; };
  std::printf("files walked: %d\n", walked);
  {
    // What the program chooses for this tree's drive, and why.
    const engine::SeekPenalty penalty = engine::SeekPenaltyOf(o.root);
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    std::printf("the program's pool here: %d inspectors (%lu cores, seek penalty: %s)\n", PoolSize(o.root),
                system.dwNumberOfProcessors,
                penalty == engine::SeekPenalty::kHas    ? "reported"
                : penalty == engine::SeekPenalty::kNone ? "none reported"
                                                        : "the drive doesn't say");
  }
  std::printf("%-10s %10.0f files/s  (%.3f s)\n", "walk", rate(walk), walk);
  std::printf("%-10s %10.0f files/s  (%.3f s)\n", "floor", rate(floor), floor);
  std::printf("%-10s %10.0f files/s  (%.3f s)\n", "version", rate(version), version);
  for (const ProbeKind& p : probes)
    std::printf("%-10s %10.0f files/s  (%.3f s; list, then %d threads)\n", p.name.c_str(), rate(p.seconds), p.seconds,
                p.threads);
  for (const WorkerKind& w : workers)
    std::printf("%-10s %10.0f files/s  (%.3f s; worker, inspectors = %d: %d scanned, %d infected)\n", w.name.c_str(),
                rate(w.seconds), w.seconds, w.inspectors, w.scanned, w.found);
  std::printf("%-10s %10.0f files/s  (%.3f s, offer says: %s)\n", "program", rate(program), program,
              Utf8(summary).c_str());
  std::printf("tool/floor:");
  for (const WorkerKind& w : workers) std::printf("  %s %.3f", w.name.c_str(), floor / w.seconds);
  std::printf("  program %.3f\n", floor / program);
  // Each tool against the probe with as many threads: the pool and the program against
  // "probe", threads=N against probe=N.
  std::printf("tool/probe:  pool %.3f", probes[0].seconds / workers[1].seconds);
  for (size_t i = 1; i < probes.size(); ++i)
    std::printf("  %s %.3f", workers[i + 1].name.c_str(), probes[i].seconds / workers[i + 1].seconds);
  std::printf("  program %.3f\n", probes[0].seconds / program);
  std::printf("single/walk %.3f  single/version %.3f\n", walk / workers[0].seconds, version / workers[0].seconds);
  return 0;
}
