// The engine's steps for one file named by its path, taken as the walk takes them: its
// directory held open, the file opened relative to it. The program always works from a
// listing; tests name files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/progress.h"
#include "engine/scan_state.h"
#include "engine/walk.h"

namespace test {

// Keeps every snapshot a walk shows, in order; `onShow` runs after each, on the thread that
// showed it (one at a time).
struct ProgressRecorder : engine::ProgressSink {
  void Show(const engine::ProgressSnapshot& snapshot) override;
  std::vector<std::wstring> Paths() const;
  // The progress line of the last file shown; empty before the first.
  std::wstring LastLine() const;

  std::vector<engine::ProgressSnapshot> shown;
  std::function<void(const engine::ProgressSnapshot&)> onShow;
};

// The marker test for the file at `path`, opened as the walk opens files (false when it
// can't be opened).
bool GetFileCompanyName(const std::wstring& path, std::wstring& companyName);
bool IsVirusFile(const std::wstring& path);

// ScanFile for the file at `path`. A path without a directory, or one that names nothing,
// is counted and nothing more.
bool ScanFile(const std::wstring& path, engine::ScanState& state, engine::ProgressSink& progress,
              const engine::ScanHooks* hooks = nullptr);

// RestoreVirusFile for the file at `path`, when it is a plain file. True when it was
// restored or deleted. `state` carries the stop flag a copy looks at (none: never stopped).
bool RestoreVirusFile(const std::wstring& path, const engine::ScanHooks* hooks = nullptr,
                      engine::ScanState* state = nullptr);

}  // namespace test
