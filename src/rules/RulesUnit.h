#pragma once

#include "PatternUnit.h"
#include "core/ColorUnit.h"
#include "core/LogUnit.h"
#include "core/SourceKindUnit.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <vector>

namespace ornavel {

class TRules;

// One rule. Once added to a list, every change goes through the list, which makes it visible to
// the next evaluation as a whole.
class TRule {
public:
  TRule() = default;
  TRule(const TRule&) = delete;
  TRule& operator=(const TRule&) = delete;

  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  const std::string& Name() const { return FName; }
  void SetName(std::string value);
  const std::string& RegExp() const { return FRegExp; }
  void SetRegExp(std::string value);
  TMonitorTypes MonitorTypes() const { return FMonitorTypes; }
  void SetMonitorTypes(TMonitorTypes value);
  // A shell pattern (* ? [...]) on the name of a line's source, or on the last part of a path;
  // empty for every source.
  const std::string& Source() const { return FSource; }
  void SetSource(std::string value);
  bool LogLine() const { return FLogLine; }
  void SetLogLine(bool value);
  // A kept line this rule decides raises an alert (a notification, the bar peeking, a bell).
  bool Alert() const { return FAlert; }
  void SetAlert(bool value);
  // Shared with the evaluations, which switch a faulty rule off.
  bool Active() const { return *FActive; }
  void SetActive(bool value);
  int Priority() const { return FPriority; }
  void SetPriority(int value);

private:
  friend class TRules;

  template <class F>
  void Change(F&& apply);

  TRules* FOwner = nullptr;
  TColor FColor = clWhite;
  std::string FName = "Unnamed";
  std::string FRegExp;
  TMonitorTypes FMonitorTypes = TMonitorTypes::All();
  std::string FSource;
  bool FLogLine = true;
  bool FAlert = false;
  std::shared_ptr<std::atomic<bool>> FActive = std::make_shared<std::atomic<bool>>(false);
  int FPriority = 0;
  // Compiled from FRegExp when the list next publishes the rule.
  std::shared_ptr<const TPattern> FPattern;
};

// The ordered rule list; the rule lowest in the list has the last word. Evaluations run on any
// number of threads against an immutable snapshot of the active rules, swapped in whole by
// every change, so they never see a half-edited list or a freed rule and never wait for an edit.
class TRules final : public TLogFilter {
public:
  TRules();
  ~TRules() override;
  TRules(const TRules&) = delete;
  TRules& operator=(const TRules&) = delete;

  std::size_t Count() const;
  TRule& GetRule(std::size_t position) const;
  // Gives the rule the priority Count() and appends it; the list owns it from now on.
  TRule& Add(std::unique_ptr<TRule> rule);
  void Delete(std::size_t position);
  // Orders by ascending priority, then renumbers. Of two rules with the same priority, the one
  // that was lower in the list comes first: that is how a rule moved onto its neighbour's
  // priority changes places with it.
  void Sort();

  // Reads Rules.xml in the application-data folder (or in folder), made empty when missing,
  // then sorts. A failure is posted to the log at level LoadFailure; the list keeps the rules
  // read before it.
  void Open();
  void Open(const std::string& folder);
  // Reads the file again and appends one rule per Rule element of the root, in file order. The
  // first value that cannot be read ends the reading and raises; the Rule elements from that one
  // on are kept for the next save.
  void Load();
  // Writes the list to the file, after the rules, the Rule elements a faulty load left unread.
  // A failure raises and leaves the old file intact. A list whose file could not be read does
  // not overwrite it.
  void Save();

  // Answers whether the item is kept, and gives it the colour of the last matching rule and its
  // decision ("kept by rule 3 'Errors'", counted from 1), and the rule's name as its alert when
  // the rule alerts; the rules before that one are not
  // searched. A rule whose pattern fails is switched off and left
  // out (one that does not compile at the first line it covers), and its report ("Rule %s switched
  // off: %s") is added to faults for the caller to post once this evaluation holds nothing. Items
  // without a monitor type are kept as they are.
  bool ProcessItem(TLogItem& item, std::vector<std::string>& faults) const override;
  // No active rule covers that kind of source.
  bool KeepsAll(TMonitorType type) const override;

private:
  friend class TRule;
  struct TActiveRule;
  struct TSnapshot;

  template <class F>
  void Edit(F&& apply);
  void Publish();
  const TSnapshot& Snapshot() const;
  static void SwitchOffInvalid(const TSnapshot& snapshot, TMonitorType type,
                               std::vector<std::string>& faults);
  static void SwitchOff(const TActiveRule& rule, const std::string& reason,
                        std::vector<std::string>& faults);
  void Append(std::vector<std::unique_ptr<TRule>> rules);
  void CheckPosition(std::size_t position) const;
  void OpenFile(const std::string& folder);
  void KeepUnread(pugi::xml_node firstUnread);

  mutable std::mutex FEditLock; // guards the list, the rules' fields and FDecisions
  // Every decision and alert the rules have given, kept as long as the list: a line's log holds
  // on to them.
  std::set<std::string, std::less<>> FDecisions;
  std::vector<std::unique_ptr<TRule>> FRules;
  mutable std::mutex FSnapshotLock; // guards FSnapshot; FVersion is its version
  std::shared_ptr<const TSnapshot> FSnapshot;
  std::atomic<std::uint64_t> FVersion{0};

  // The rules file, used on the user-interface thread only.
  std::string FFileName;
  std::unique_ptr<pugi::xml_document> FDocument;
  pugi::xml_node FRoot;
  std::unique_ptr<pugi::xml_document> FUnread;
  bool FUnsaved = false; // a save could not write the file; it is tried again at the end
};

// The single rule list, made on first use and loaded from Rules.xml.
TRules& GetRules();
// Ends the single rule list at program end, after the log; later calls of GetRules fail.
void DestroyRules();

} // namespace ornavel
