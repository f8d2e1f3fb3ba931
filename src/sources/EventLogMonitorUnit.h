#pragma once

#include "core/ThreadUnit.h"
#include "core/WakeEventUnit.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ornavel {

// Follows the systemd journal: the logs "System" (the machine's journal) and "User" (the journal
// of the user running the program; none for root, whose entries journald keeps in the system
// journal), in that order, each from its end at the start. Every entry written afterwards is
// posted as "(%s) %s " with the log's name and "IDENTIFIER: MESSAGE". Its lines carry the thread
// itself as their source, which gives them the monitor type mtEventLog.
class TEventLogMonitorThread : public TSourceThread {
public:
  // folder: where to read both logs' journal files instead of the machine's own journals: User
  // from the user's user-UID*.journal, System from every other journal file but other users'
  // (systemd-journal-remote's remote-HOST.journal among them). A folder without the user's
  // journal is not reported.
  // recentEntries: how many of each log's last entries are posted first.
  explicit TEventLogMonitorThread(TLog& log, std::string folder = {},
                                  std::size_t recentEntries = 0);

  TMonitorType MonitorType() const final { return mtEventLog; }

  // An entry's text: "IDENTIFIER: MESSAGE", the identifier being the first of identifier and
  // command that is there and not empty; the message alone when neither is. A NUL ends a field.
  static std::string EntryText(std::optional<std::string_view> identifier,
                               std::optional<std::string_view> command,
                               std::optional<std::string_view> message);

protected:
  void Execute() override;

private:
  const std::string FFolder;
  const std::size_t FRecentEntries;
};

} // namespace ornavel
