#include "RulesUnit.h"

#include "CandidateFinderUnit.h"
#include "RuleTextUnit.h"
#include "config/AppDataUnit.h"
#include "config/XmlFileUnit.h"
#include "core/FormatUnit.h"
#include "core/SingleInstanceUnit.h"
#include "core/TextUnit.h"

#include <algorithm>
#include <bit>
#include <fnmatch.h>
#include <numeric>
#include <span>
#include <stdexcept>

namespace ornavel {

// What an evaluation needs of one active rule, copied when the list changes.
struct TRules::TActiveRule {
  std::shared_ptr<std::atomic<bool>> Active;
  TMonitorTypes MonitorTypes;
  std::string Source;
  bool LogLine;
  TColor Color;
  std::shared_ptr<const TPattern> Pattern;
  std::string Name;
  std::string_view Decision; // what a line it keeps says of it, in FDecisions
  const std::string* Alert;  // its name when it alerts, in FDecisions
};

// The active rules at one moment. Versions are unique in the process, so a version names one
// snapshot of one list.
struct TRules::TSnapshot {
  std::uint64_t Version = 0;
  std::vector<TActiveRule> Rules;
  bool AnyInvalid = false; // a pattern that does not compile
  TMonitorTypes Covered;   // the kinds of source some rule covers
  // Over the rules' required texts: which rules a line may match, in one pass.
  TCandidateFinder Candidates;
};

namespace {

std::atomic<std::uint64_t> gLastSnapshotVersion{0};

// Where a rule stands in the file, for the report of a value that cannot be read.
struct TRuleSite {
  const std::string& FileName;
  std::size_t Position; // counted from 1
  std::string Name;
};

// Gives the attribute's value to read if the element has it. A value read cannot take fails the
// same way, naming the file, the rule, the attribute and the value too.
template <class F>
void ReadAttribute(pugi::xml_node element, const char* name, const TRuleSite& site, F&& read) {
  const pugi::xml_attribute attribute = element.attribute(name);
  if (!attribute)
    return;
  try {
    read(std::string_view(attribute.value()));
  } catch (const EConvertError& failure) {
    throw EConvertError(Format("%s: rule %u (%s), %s=\"%s\": %s", site.FileName, site.Position,
                               site.Name, name, attribute.value(), failure.what()));
  }
}

// A rule with the values of a new rule, changed by the attributes the element has.
std::unique_ptr<TRule> RuleFromElement(pugi::xml_node element, const TRuleSite& site) {
  auto rule = std::make_unique<TRule>();
  using T = std::string_view;
  ReadAttribute(element, "name", site, [&](T value) { rule->SetName(std::string(value)); });
  ReadAttribute(element, "color", site, [&](T value) { rule->SetColor(StringToColor(value)); });
  ReadAttribute(element, "regexp", site, [&](T value) { rule->SetRegExp(PercentDecode(value)); });
  ReadAttribute(element, "active", site, [&](T value) { rule->SetActive(TextToBool(value)); });
  ReadAttribute(element, "logline", site, [&](T value) { rule->SetLogLine(TextToBool(value)); });
  ReadAttribute(element, "monitortypes", site,
                [&](T value) { rule->SetMonitorTypes(StringToMonitorTypes(value)); });
  ReadAttribute(element, "source", site, [&](T value) { rule->SetSource(std::string(value)); });
  ReadAttribute(element, "alert", site, [&](T value) { rule->SetAlert(TextToBool(value)); });
  return rule;
}

const char* BooleanText(bool value) {
  return value ? "True" : "False";
}

void WriteRule(const TRule& rule, pugi::xml_node element) {
  element.append_attribute("name") = rule.Name().c_str();
  element.append_attribute("color") = ColorToString(rule.Color()).c_str();
  element.append_attribute("regexp") = PercentEncode(rule.RegExp()).c_str();
  element.append_attribute("active") = BooleanText(rule.Active());
  element.append_attribute("logline") = BooleanText(rule.LogLine());
  element.append_attribute("monitortypes") = MonitorTypesToString(rule.MonitorTypes()).c_str();
  // Only where it is set, so that a file without such rules is the one older builds wrote.
  if (!rule.Source().empty())
    element.append_attribute("source") = rule.Source().c_str();
  if (rule.Alert())
    element.append_attribute("alert") = BooleanText(true);
}

// A name matches the pattern whole, or by the last part of its path.
bool SourceMatches(const std::string& pattern, const std::string& name) {
  if (::fnmatch(pattern.c_str(), name.c_str(), 0) == 0)
    return true;
  const std::size_t slash = name.rfind('/');
  return slash != std::string::npos && ::fnmatch(pattern.c_str(), name.c_str() + slash + 1, 0) == 0;
}

// Each evaluating thread keeps the snapshot it used last and takes the list's lock only when the
// list has changed since, so that threads evaluating at once do not contend for the lock or the
// snapshot's reference count.
struct TSnapshotCache {
  std::uint64_t Version = 0;
  std::shared_ptr<const void> Snapshot;
};
thread_local TSnapshotCache gSnapshotCache;

// The candidate rules of the line being evaluated, one bit each; grown, never shrunk.
thread_local std::vector<std::uint64_t> gCandidates;
// Up to this many rules, each looks for its own texts (a memchr-like search) instead.
constexpr std::size_t FewRules = 4;

} // namespace

template <class F>
void TRule::Change(F&& apply) {
  if (FOwner)
    FOwner->Edit(std::forward<F>(apply));
  else
    apply();
}

void TRule::SetColor(TColor value) {
  Change([&] { FColor = value; });
}
void TRule::SetName(std::string value) {
  Change([&] { FName = std::move(value); });
}
void TRule::SetRegExp(std::string value) {
  Change([&] { FRegExp = std::move(value); });
}
void TRule::SetMonitorTypes(TMonitorTypes value) {
  Change([&] { FMonitorTypes = value; });
}
void TRule::SetSource(std::string value) {
  Change([&] { FSource = std::move(value); });
}
void TRule::SetLogLine(bool value) {
  Change([&] { FLogLine = value; });
}
void TRule::SetAlert(bool value) {
  Change([&] { FAlert = value; });
}
void TRule::SetActive(bool value) {
  Change([&] { *FActive = value; });
}
void TRule::SetPriority(int value) {
  // The order of evaluation is the list's order, which only Sort changes.
  if (FOwner) {
    std::lock_guard lock(FOwner->FEditLock);
    FPriority = value;
  } else {
    FPriority = value;
  }
}

TRules::TRules() {
  std::lock_guard lock(FEditLock);
  Publish();
}

TRules::~TRules() {
  // A save that failed is tried once more.
  if (FUnsaved && FDocument)
    SaveXmlFileAtExit(*FDocument, FFileName);
}

void TRules::Open() {
  ReportingLoadFailures([this] { OpenFile(GetAppDataFolder()); });
}

void TRules::Open(const std::string& folder) {
  ReportingLoadFailures([&] { OpenFile(folder); });
}

void TRules::OpenFile(const std::string& folder) {
  FFileName = IncludePath(folder, "Rules.xml");
  CreateXmlSkeletonIfMissing(FFileName, "Rules");
  Load();
  Sort();
}

void TRules::Load() {
  FDocument = LoadXmlFile(FFileName);
  FRoot = FDocument->document_element();
  FUnread.reset();
  std::vector<std::unique_ptr<TRule>> read;
  try {
    for (pugi::xml_node element : FRoot.children("Rule")) {
      try {
        const TRuleSite site{FFileName, read.size() + 1,
                             element.attribute("name").as_string("Unnamed")};
        read.push_back(RuleFromElement(element, site));
      } catch (...) {
        KeepUnread(element);
        throw;
      }
    }
  } catch (...) {
    Append(std::move(read));
    throw;
  }
  Append(std::move(read));
}

void TRules::KeepUnread(pugi::xml_node firstUnread) {
  FUnread = std::make_unique<pugi::xml_document>();
  for (pugi::xml_node element = firstUnread; element; element = element.next_sibling("Rule"))
    FUnread->append_copy(element);
}

void TRules::Save() {
  if (!FDocument) {
    throw std::runtime_error(
        FFileName.empty()
            ? std::string("The rules cannot be saved: the application-data folder was not found")
            : Format("%s could not be read when Ornavel started, so it is not overwritten; mend or "
                     "remove it and start Ornavel again",
                     FFileName));
  }
  Sort();
  RemoveChildren(FRoot);
  {
    std::lock_guard lock(FEditLock);
    for (const auto& rule : FRules)
      WriteRule(*rule, AppendLaidOut(FRoot, "Rule"));
  }
  if (FUnread) {
    for (pugi::xml_node element : FUnread->children())
      AppendCopyLaidOut(FRoot, element);
  }
  FUnsaved = true;
  SaveXmlFile(*FDocument, FFileName);
  FUnsaved = false;
}

template <class F>
void TRules::Edit(F&& apply) {
  std::lock_guard lock(FEditLock);
  apply();
  Publish();
}

void TRules::Publish() {
  auto snapshot = std::make_shared<TSnapshot>();
  snapshot->Version = ++gLastSnapshotVersion;
  snapshot->Rules.reserve(FRules.size());
  for (std::size_t position = 0; position < FRules.size(); ++position) {
    const auto& rule = FRules[position];
    if (!*rule->FActive || rule->FRegExp.empty() || rule->FMonitorTypes.Empty())
      continue;
    if (!rule->FPattern || rule->FPattern->Source() != rule->FRegExp)
      rule->FPattern = std::make_shared<const TPattern>(rule->FRegExp);
    snapshot->Rules.push_back(
        {rule->FActive, rule->FMonitorTypes, rule->FSource, rule->FLogLine, rule->FColor,
         rule->FPattern, rule->FName,
         *FDecisions.insert(Format("kept by rule %d '%s'", position + 1, rule->FName)).first,
         rule->FAlert ? &*FDecisions.insert(rule->FName).first : nullptr});
    snapshot->AnyInvalid = snapshot->AnyInvalid || !rule->FPattern->Valid();
    snapshot->Covered =
        TMonitorTypes::FromBits(snapshot->Covered.Bits() | rule->FMonitorTypes.Bits());
  }
  std::vector<std::span<const TRequiredText>> required;
  required.reserve(snapshot->Rules.size());
  for (const TActiveRule& rule : snapshot->Rules)
    required.emplace_back(rule.Pattern->Required());
  snapshot->Candidates = TCandidateFinder(required);
  std::shared_ptr<const TSnapshot> published = std::move(snapshot);
  std::lock_guard lock(FSnapshotLock);
  FVersion = published->Version;
  FSnapshot.swap(published);
}

const TRules::TSnapshot& TRules::Snapshot() const {
  TSnapshotCache& cache = gSnapshotCache;
  if (cache.Version != FVersion.load(std::memory_order_acquire)) {
    std::lock_guard lock(FSnapshotLock);
    cache.Version = FSnapshot->Version;
    cache.Snapshot = FSnapshot;
  }
  return *static_cast<const TSnapshot*>(cache.Snapshot.get());
}

std::size_t TRules::Count() const {
  std::lock_guard lock(FEditLock);
  return FRules.size();
}

void TRules::CheckPosition(std::size_t position) const {
  if (position >= FRules.size())
    throw std::out_of_range(Format("List index out of bounds (%u)", position));
}

TRule& TRules::GetRule(std::size_t position) const {
  std::lock_guard lock(FEditLock);
  CheckPosition(position);
  return *FRules[position];
}

TRule& TRules::Add(std::unique_ptr<TRule> rule) {
  if (!rule)
    throw std::invalid_argument("No rule to add");
  TRule& added = *rule;
  std::vector<std::unique_ptr<TRule>> one;
  one.push_back(std::move(rule));
  Append(std::move(one));
  return added;
}

// One change for all, so that a file of many rules is published once, not once per rule.
void TRules::Append(std::vector<std::unique_ptr<TRule>> rules) {
  Edit([&] {
    for (auto& rule : rules) {
      rule->FPriority = static_cast<int>(FRules.size());
      rule->FOwner = this;
      FRules.push_back(std::move(rule));
    }
  });
}

void TRules::Delete(std::size_t position) {
  std::unique_ptr<TRule> deleted;
  Edit([&] {
    CheckPosition(position);
    deleted = std::move(FRules[position]);
    FRules.erase(FRules.begin() + static_cast<std::ptrdiff_t>(position));
    for (std::size_t i = position; i < FRules.size(); ++i)
      FRules[i]->FPriority = static_cast<int>(i);
  });
}

void TRules::Sort() {
  const auto inOrder = [&] {
    std::lock_guard lock(FEditLock);
    for (std::size_t i = 0; i < FRules.size(); ++i) {
      if (FRules[i]->FPriority != static_cast<int>(i))
        return false;
    }
    return true;
  };
  // As after a load: nothing to publish.
  if (inOrder())
    return;
  Edit([&] {
    std::vector<std::size_t> order(FRules.size());
    std::iota(order.begin(), order.end(), 0);
    std::ranges::stable_sort(order, [&](std::size_t a, std::size_t b) {
      const int pa = FRules[a]->FPriority;
      const int pb = FRules[b]->FPriority;
      return pa != pb ? pa < pb : a > b;
    });
    std::vector<std::unique_ptr<TRule>> sorted;
    sorted.reserve(FRules.size());
    for (std::size_t index : order)
      sorted.push_back(std::move(FRules[index]));
    FRules = std::move(sorted);
    for (std::size_t i = 0; i < FRules.size(); ++i)
      FRules[i]->FPriority = static_cast<int>(i);
  });
}

bool TRules::KeepsAll(TMonitorType type) const {
  return !Snapshot().Covered.Contains(type);
}

bool TRules::ProcessItem(TLogItem& item, std::vector<std::string>& faults) const {
  const std::optional<TMonitorType> type = item.MonitorType;
  if (!type)
    return true;
  // Only this thread replaces its cached snapshot, so it stays valid through this pass.
  const TSnapshot& snapshot = Snapshot();
  if (snapshot.AnyInvalid)
    SwitchOffInvalid(snapshot, *type, faults);
  if (snapshot.Rules.empty())
    return true;
  // The last matching rule decides: from the end, the first match is the answer. Rules whose
  // required texts the line lacks cannot match, and are not looked at. A few rules look for their
  // texts themselves, faster than one pass of the automaton over the line.
  std::vector<std::uint64_t>& candidates = gCandidates;
  const bool onePass = snapshot.Rules.size() > FewRules;
  if (onePass)
    snapshot.Candidates.Find(item.Text, candidates);
  else
    candidates.assign(1, (std::uint64_t{1} << snapshot.Rules.size()) - 1);
  for (std::size_t word = candidates.size(); word-- > 0;) {
    for (std::uint64_t bits = candidates[word]; bits != 0;) {
      const int bit = 63 - std::countl_zero(bits);
      bits &= ~(std::uint64_t{1} << bit);
      const std::size_t index = word * 64 + static_cast<std::size_t>(bit);
      const TActiveRule& rule = snapshot.Rules[index];
      if (!rule.MonitorTypes.Contains(*type) || !rule.Active->load(std::memory_order_relaxed) ||
          (!rule.Source.empty() && !SourceMatches(rule.Source, item.SourceName)))
        continue;
      try {
        if (!(onePass && snapshot.Candidates.Filtered(index)
                  ? rule.Pattern->SearchHolding(item.Text)
                  : rule.Pattern->Search(item.Text)))
          continue;
      } catch (const EPatternError& failure) {
        SwitchOff(rule, failure.what(), faults);
        continue;
      }
      item.Color = rule.Color;
      if (rule.LogLine) {
        item.Decision = rule.Decision;
        item.Alert = rule.Alert;
      }
      return rule.LogLine;
    }
  }
  return true;
}

// A pattern that does not compile would fail at the first line it covers wherever it stands, so
// it is switched off then, even where a rule after it decides.
void TRules::SwitchOffInvalid(const TSnapshot& snapshot, TMonitorType type,
                              std::vector<std::string>& faults) {
  for (const TActiveRule& rule : snapshot.Rules) {
    if (!rule.Pattern->Valid() && rule.MonitorTypes.Contains(type))
      SwitchOff(rule, rule.Pattern->CompileError(), faults);
  }
}

// Only the evaluation that switches the rule off reports it.
void TRules::SwitchOff(const TActiveRule& rule, const std::string& reason,
                       std::vector<std::string>& faults) {
  if (rule.Active->load(std::memory_order_relaxed) && rule.Active->exchange(false))
    faults.push_back(Format("Rule %s switched off: %s", rule.Name, reason));
}

namespace {

TSingleInstance<TRules>& RulesInstance() {
  static TSingleInstance<TRules> instance("rule list");
  return instance;
}

} // namespace

TRules& GetRules() {
  return RulesInstance().Get([] {
    auto rules = std::make_unique<TRules>();
    rules->Open();
    return rules;
  });
}

void DestroyRules() {
  RulesInstance().Destroy();
}

} // namespace ornavel
