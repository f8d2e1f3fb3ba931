#pragma once

#include "LogUnit.h"
#include "ThreadUnit.h"

#include <functional>
#include <memory>
#include <string>

namespace ornavel {

class TThreadManager;
class TMainConfig;

// Makes the sources, suspended. The driver lives below the sources, so the front end hands it
// their makers; a kind without a maker is not available yet and starts nothing.
struct TSourceFactory {
  // Fails when the file cannot be followed ("File %s not found!").
  std::function<std::shared_ptr<TSourceThread>(const std::string& fileName)> FileMonitor;
  std::function<std::shared_ptr<TSourceThread>()> SysLog;
  std::function<std::shared_ptr<TSourceThread>()> EventLog;
  std::function<std::shared_ptr<TSourceThread>()> OutputDebugString;
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
  // The log (and with it the rules) exists, reports to onLogItem and has its first line.
  void CreateLog(TLog::TLogItemEvent onLogItem);
  void OpenSettings();
  // All of the above, then StartMonitoring; a failure of the latter is raised after the rest.
  void StartUp(TLog::TLogItemEvent onLogItem);

  // One source per configured file, then those whose switches are on, each registered before it
  // runs. A failure ends it at once: the sources started so far keep running.
  void StartMonitoring();
  // Stops every source and starts them again from the settings, within a few milliseconds.
  void RestartMonitoring();
  // Stops the manager and every source and waits for them, serving hand-offs meanwhile.
  void StopMonitoring();
  // After StopMonitoring and after the window has gone: the log, the rules, the settings.
  static void DestroySingleObjects();

private:
  void StartSource(const char* announcement,
                   const std::function<std::shared_ptr<TSourceThread>()>& make);

  TSourceFactory FFactory;
  TThreadManager* FThreadManager = nullptr;
  TLog* FLog = nullptr;
  TMainConfig* FConfig = nullptr;
};

} // namespace ornavel
