#pragma once

#include "core/LogUnit.h"
#include "core/SourceKindUnit.h"
#include "core/ThreadUnit.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ornavel {

class TThreadManager;
class TMainConfig;

// Makes a source of one kind, suspended; fileName is the listed file for a kind that follows one.
// A file monitor fails when its file cannot be read (one that is not there yet is waited for).
using TSourceMaker = std::function<std::shared_ptr<TSourceThread>(const std::string& fileName)>;

// The makers of the sources this build has. The driver lives below the sources, so the front end
// hands them over; a kind without a maker is not available in this build.
class TSourceFactory {
public:
  void SetMaker(TMonitorType type, TSourceMaker maker) { FMakers.at(type) = std::move(maker); }
  const TSourceMaker& Maker(TMonitorType type) const { return FMakers.at(type); }
  bool Available(TMonitorType type) const { return static_cast<bool>(Maker(type)); }
  TMonitorTypes AvailableTypes() const;

private:
  std::array<TSourceMaker, SourceKinds.size()> FMakers;
};

// Starts the sources from the settings, restarts them when the settings change, and stops
// everything in order at the end. Both front ends drive the program through it, on their
// user-interface thread.
class TMonitoringDriver {
public:
  explicit TMonitoringDriver(TSourceFactory factory);
  TMonitoringDriver(const TMonitoringDriver&) = delete;
  TMonitoringDriver& operator=(const TMonitoringDriver&) = delete;

  // The start-up steps, in the order they must run; a window puts its own between them.
  // The manager runs and will call StartMonitoring after each restart's stop.
  void CreateThreadManager();
  // The log exists and filters through the rules (made now, from Rules.xml, reporting any
  // failure to read them as the log's first line), reports to onLogItem and has its first line.
  void CreateLog(TLog::TLogItemEvent onLogItem);
  void OpenSettings();
  // All of the above, then StartMonitoring; a failure of the latter is raised after the rest.
  void StartUp(TLog::TLogItemEvent onLogItem);

  // Every kind of source in table order: one source per listed file, then one per switch that is
  // on, each registered before it runs. A failure ends it at once: the sources started so far
  // keep running.
  void StartMonitoring();
  // Stops every source and starts them again from the settings, within a few milliseconds.
  void RestartMonitoring();
  // Stops the manager and every source and waits for them, serving hand-offs meanwhile.
  void StopMonitoring();
  // After StopMonitoring and after the window has gone: the log, the rules, the settings.
  static void DestroySingleObjects();

  const TSourceFactory& Factory() const { return FFactory; }
  // Files followed after the listed ones at every start, for this run only (the command line's);
  // a file that is listed already is followed once.
  void FollowAlso(std::vector<std::string> fileNames) { FExtraFiles = std::move(fileNames); }
  // How many sources the last start began, a pattern of files counting as two, as it may follow
  // several.
  std::size_t SourcesStarted() const { return FSourcesStarted; }

private:
  void StartListedFiles(const TSourceKind& kind);
  bool ReportedAvailable(const TSourceKind& kind);
  void StartSource(const TSourceKind& kind, const std::string& fileName);

  TSourceFactory FFactory;
  std::vector<std::string> FExtraFiles;
  std::atomic<std::size_t> FSourcesStarted{0};
  TThreadManager* FThreadManager = nullptr;
  TLog* FLog = nullptr;
  TMainConfig* FConfig = nullptr;
};

} // namespace ornavel
