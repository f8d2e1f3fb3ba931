#pragma once

#include "core/SourceKindUnit.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ornavel {

// A setting's value: none (std::monostate), text, a boolean, or a list of text.
using TConfigValue = std::variant<std::monostate, std::string, bool, std::vector<std::string>>;

// An ordered list of text that reports every single change (one entry added or deleted).
inline constexpr const char* DefaultDateStringFormat = "yyyy-mm-dd hh:nn:ss";

class TStringList {
public:
  std::size_t Count() const { return FItems.size(); }
  const std::string& operator[](std::size_t index) const { return FItems.at(index); }
  const std::vector<std::string>& Items() const { return FItems; }
  void Add(std::string item);
  void Delete(std::size_t index);
  void Set(std::size_t index, std::string item);
  void SetOnChange(std::function<void()> handler) { FOnChange = std::move(handler); }

private:
  void Changed() const;

  std::vector<std::string> FItems;
  std::function<void()> FOnChange;
};

class TXMLConfig {
public:
  virtual ~TXMLConfig() = default;
  // The last direct child element of parent named exactly name, or none.
  static pugi::xml_node SearchByNodeName(pugi::xml_node parent, std::string_view name);
};

// The settings, held in Config.xml in the application-data folder and read and written in
// memory by dotted path ("MonitorFilenames.Filename"). One lock guards the document, which source
// threads read while the user interface writes it. A store without a document (its file could
// not be read) gives defaults, drops writes and never touches the file.
class TMainConfig : public TXMLConfig {
public:
  TMainConfig() = default;
  // Writes the file if anything changed since it was last written.
  ~TMainConfig() override;
  TMainConfig(const TMainConfig&) = delete;
  TMainConfig& operator=(const TMainConfig&) = delete;

  // Opens Config.xml in the application-data folder (or in folder), creating it when missing; a
  // failure is posted to the log at level LoadFailure and leaves the store without a document.
  void Open();
  void Open(const std::string& folder);
  bool HasDocument() const;

  TConfigValue ReadValue(std::string_view path, const TConfigValue& defaultValue) const;
  void WriteValue(std::string_view path, const TConfigValue& value);
  // Writes the document to its file now; a failure raises and leaves the old file intact.
  void Save();

  std::string DateStringFormat() const;
  // The format to draw times with: a DateStringFormat that is not text gives the default, so
  // that a hand-edited file cannot make every drawn time fail.
  std::string DisplayDateFormat() const;
  TStringList& MonitorFilenames();
  void MonitorFilenamesChange();
  // A source's switch or option, as the table of source kinds names it.
  bool ReadSetting(const TSourceSetting& setting) const {
    return ReadBool(setting.Key, setting.Default);
  }
  void WriteSetting(const TSourceSetting& setting, bool value) { WriteValue(setting.Key, value); }
  bool MonitorSyslog() const { return ReadSetting(SourceKindOf(mtSyslog).Switch); }
  void SetMonitorSyslog(bool value) { WriteSetting(SourceKindOf(mtSyslog).Switch, value); }
  bool MonitorEventLog() const { return ReadSetting(SourceKindOf(mtEventLog).Switch); }
  void SetMonitorEventLog(bool value) { WriteSetting(SourceKindOf(mtEventLog).Switch, value); }
  bool OutputDebugString() const { return ReadSetting(SourceKindOf(mtDebugString).Switch); }
  void SetOutputDebugString(bool value) { WriteSetting(SourceKindOf(mtDebugString).Switch, value); }
  bool IncludePeerIP() const { return ReadSetting(SourceKindOf(mtSyslog).Option); }
  void SetIncludePeerIP(bool value) { WriteSetting(SourceKindOf(mtSyslog).Option, value); }
  bool IncludePID() const { return ReadSetting(SourceKindOf(mtDebugString).Option); }
  void SetIncludePID(bool value) { WriteSetting(SourceKindOf(mtDebugString).Option, value); }
  // Set by hand only: the UDP port of the syslog source, 1 to 65535.
  int SyslogPort() const;
  // Set by hand only: the most lines the central log holds, at least MinMaxLines.
  std::size_t MaxLines() const;
  // Set by hand, or for this run only: how many of the last lines of each file and journal are
  // shown at the start; 0 by default, for only what comes after.
  std::size_t InitialLines() const;
  // Before the store is first used, from the command line.
  static void SetInitialLinesForThisRun(std::size_t lines) { FInitialLinesForThisRun = lines; }
  // Set by hand only: the folder whose journal files the event log reads instead of the
  // machine's; empty for the machine's.
  std::string JournalDirectory() const;

private:
  void OpenFile(const std::string& folder);
  bool ReadBool(std::string_view key, bool defaultValue) const;
  // Posts once for each key and problem with its value, naming both and the default used.
  void ReportDefaultUsed(std::string_view key, std::string_view problem,
                         std::string_view used) const;
  std::string ReadText(std::string_view key, const std::string& defaultValue) const;
  std::size_t ReadLineCount(std::string_view key, std::size_t minimum,
                            std::size_t defaultValue) const;
  pugi::xml_node FindTopElement(std::string_view name) const;

  mutable std::mutex FLock; // guards the document, its root and the modified mark
  pugi::xml_node FRootNode;
  std::unique_ptr<TStringList> FMonitorFilenames;
  std::unique_ptr<pugi::xml_document> FDocument;
  std::string FFileName;
  bool FModified = false;
  std::atomic<bool> FDestroying{false};
  inline static std::optional<std::size_t> FInitialLinesForThisRun;
  mutable std::mutex FReportedLock; // guards FReported
  mutable std::set<std::string> FReported;
};

// The single settings store, opened on first use.
TMainConfig& GetConfig();
// Closes the single store at program end, after the log and the rules.
void DestroyConfig();

} // namespace ornavel
