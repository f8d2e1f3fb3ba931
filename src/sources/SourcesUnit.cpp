#include "SourcesUnit.h"

#include "EventLogMonitorUnit.h"
#include "FileMonitorUnit.h"
#include "FilePatternUnit.h"
#include "OutputDebugStringMonitorThreadUnit.h"
#include "SysLogMonitorUnit.h"
#include "config/ConfigUnit.h"

namespace ornavel {

TSourceFactory MakeSourceFactory(TLog& log, const TMainConfig& config) {
  TSourceFactory factory;
  factory.SetMaker(mtFile, [&](const std::string& fileName) -> std::shared_ptr<TSourceThread> {
    const std::size_t recentLines = config.InitialLines();
    if (TFilePatternThread::IsPattern(fileName)) {
      auto pattern = TThread::Create<TFilePatternThread>(true, log);
      pattern->SetPattern(fileName, recentLines);
      return pattern;
    }
    auto monitor = TThread::Create<TFileMonitorThread>(true, log);
    monitor->SetFileName(fileName);
    monitor->SetRecentLines(recentLines);
    return monitor;
  });
  factory.SetMaker(mtSyslog, [&](const std::string&) -> std::shared_ptr<TSourceThread> {
    return TThread::Create<TSysLogMonitorThread>(true, log, config, config.SyslogPort());
  });
  factory.SetMaker(mtEventLog, [&](const std::string&) -> std::shared_ptr<TSourceThread> {
    return TThread::Create<TEventLogMonitorThread>(true, log, config.JournalDirectory(),
                                                   config.InitialLines());
  });
  factory.SetMaker(mtDebugString, [&](const std::string&) -> std::shared_ptr<TSourceThread> {
    return TThread::Create<TOutputDebugStringMonitorThread>(true, log, config);
  });
  return factory;
}

} // namespace ornavel
