#include "SourcesUnit.h"

#include "EventLogMonitorUnit.h"
#include "FileMonitorUnit.h"
#include "FilePatternUnit.h"
#include "OutputDebugStringMonitorThreadUnit.h"
#include "SysLogMonitorUnit.h"
#include "config/ConfigUnit.h"

namespace ornavel {

TSourceFactory MakeSourceFactory() {
  TSourceFactory factory;
  factory.SetMaker(mtFile, [](const std::string& fileName) -> std::shared_ptr<TSourceThread> {
    const std::size_t recentLines = GetConfig().InitialLines();
    if (TFilePatternThread::IsPattern(fileName)) {
      auto pattern = TThread::Create<TFilePatternThread>(true);
      pattern->SetPattern(fileName, recentLines);
      return pattern;
    }
    auto monitor = TThread::Create<TFileMonitorThread>(true);
    monitor->SetFileName(fileName);
    monitor->SetRecentLines(recentLines);
    return monitor;
  });
  factory.SetMaker(mtSyslog, [](const std::string&) -> std::shared_ptr<TSourceThread> {
    return TThread::Create<TSysLogMonitorThread>(true, GetConfig().SyslogPort());
  });
  factory.SetMaker(mtEventLog, [](const std::string&) -> std::shared_ptr<TSourceThread> {
    return TThread::Create<TEventLogMonitorThread>(true, GetConfig().JournalDirectory(),
                                                   GetConfig().InitialLines());
  });
  factory.SetMaker(mtDebugString, [](const std::string&) -> std::shared_ptr<TSourceThread> {
    return TThread::Create<TOutputDebugStringMonitorThread>(true);
  });
  return factory;
}

} // namespace ornavel
