#include "tests/support/scan_paths.h"

#include "engine/held_directory.h"
#include "engine/inspectors.h"
#include "engine/paths.h"
#include "engine/marker.h"
#include "engine/scan_file.h"
#include "ui/run_texts.h"

namespace test {

namespace {

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct NoProgress : engine::ProgressSink {
  void Show(const engine::ProgressSnapshot&) override {}
};

// The directory part with its trailing backslash, and the name; false without a backslash.
bool Split(const std::wstring& path, std::wstring& directory, std::wstring& name) {
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return false;
  directory = path.substr(0, slash + 1);
  name = path.substr(slash + 1);
  return true;
}

}  // namespace

void ProgressRecorder::Show(const engine::ProgressSnapshot& snapshot) {
  shown.push_back(snapshot);
  if (onShow) onShow(snapshot);
}

std::vector<std::wstring> ProgressRecorder::Paths() const {
  std::vector<std::wstring> paths;
  for (const engine::ProgressSnapshot& snapshot : shown) paths.push_back(snapshot.path);
  return paths;
}

std::wstring ProgressRecorder::LastLine() const {
  if (shown.empty()) return {};
  const engine::ProgressSnapshot& last = shown.back();
  return ui::FormatProgressLine(last.filesScanned, last.virusesFound, last.filesRestored);
}

bool GetFileCompanyName(const std::wstring& path, std::wstring& companyName) {
  const win::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  return file && engine::GetFileCompanyName(file.get(), companyName);
}

bool IsVirusFile(const std::wstring& path) {
  const win::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  return file && engine::IsVirusFile(file.get());
}

bool ScanFile(const std::wstring& path, engine::ScanState& state, engine::ProgressSink& progress,
              const engine::ScanHooks* hooks) {
  engine::HeldDirectory directory;
  engine::DirectoryEntry entry;
  std::wstring folder;
  entry.attributes = GetFileAttributesW(engine::LongPath(path).c_str());
  if (!Split(path, folder, entry.name) || entry.attributes == INVALID_FILE_ATTRIBUTES || !directory.Open(folder))
    entry.attributes = FILE_ATTRIBUTE_REPARSE_POINT;  // nothing to open: counted only
  // As the walk hands it over, on this thread.
  engine::Inspectors inspectors(engine::WalkContext{state, progress, hooks}, 1);
  inspectors.BeginDirectory(directory);
  const bool goOn = inspectors.Hand(entry, path);
  inspectors.EndDirectory();
  return goOn;
}

bool RestoreVirusFile(const std::wstring& path, const engine::ScanHooks* hooks, engine::ScanState* state) {
  std::wstring folder, name;
  engine::HeldDirectory directory;
  if (!Split(path, folder, name) || !directory.Open(folder)) return false;
  engine::TestedFile file = directory.Test(name, GENERIC_READ, kShareAll);
  if (!file) return false;
  engine::ScanState unstopped;
  NoProgress none;
  const engine::WalkContext context{state ? *state : unstopped, none, hooks};
  return engine::RestoreVirusFile(std::move(file), context, nullptr) != engine::Restoration::kLeft;
}

}  // namespace test
