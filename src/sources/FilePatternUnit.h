#pragma once

#include "core/ThreadUnit.h"
#include "sources/FileChangeNotifierUnit.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ornavel {

class TFileMonitorThread;

// Follows every file whose name matches a shell pattern (`*`, `?` and `[...]` in any part of
// the path), each with a file monitor of its own, announced with "Monitoring %s": the files that
// match at the start from their end, those that appear later from their start, as they are new.
// The folders on the pattern's way are watched, so that a new file or folder is picked up at
// once; a folder that is not there yet is looked for now and then. A name once matched stays
// followed as a listed file is, through rotation and deletion.
class TFilePatternThread : public TSourceThread {
public:
  explicit TFilePatternThread(TLog& log);
  ~TFilePatternThread() override;

  TMonitorType MonitorType() const final { return mtFile; }

  // Whether a listed name is a pattern: it holds a pattern character and names no file as it is.
  static bool IsPattern(const std::string& name);

  // Before the thread is resumed: picks up the files that match now. recentLines as for
  // TFileMonitorThread::SetRecentLines.
  void SetPattern(const std::string& pattern, std::size_t recentLines = 0);

protected:
  void Execute() override;

private:
  void PickUp(bool appeared);
  void Follow(const std::string& fileName, bool appeared);
  void WatchFolders();
  bool WaitForChange();
  void StopFollowing() noexcept;

  std::string FPattern;
  std::size_t FRecentLines = 0;
  // By name; none for a file that could not be followed, which is not tried again.
  std::map<std::string, std::shared_ptr<TFileMonitorThread>> FFollowed;
  std::shared_ptr<TFileChangeNotifier> FNotifier;
  std::vector<TFileWatch> FFolderWatches;
  // Whether every folder that can hold a match is watched.
  bool FFoldersWatched = false;
};

} // namespace ornavel
