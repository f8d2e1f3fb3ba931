#include "ConfigUnit.h"

#include "AppDataUnit.h"
#include "XmlFileUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/SingleInstanceUnit.h"
#include "core/TextUnit.h"

#include <stdexcept>

namespace ornavel {
namespace {

constexpr int DefaultSyslogPort = 514;

struct TPath {
  std::string_view Element;
  std::string_view Item;
};

// "A.B.C": element A, items named "B.C"; a path without a full stop has no item name.
TPath SplitPath(std::string_view path) {
  const auto dot = path.find('.');
  if (dot == std::string_view::npos)
    return {path, {}};
  return {path.substr(0, dot), path.substr(dot + 1)};
}

std::string_view LocalName(std::string_view name) {
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// All text inside the node, as a DOM's text content.
std::string TextContent(pugi::xml_node node) {
  std::string text;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
    else if (child.type() == pugi::node_element)
      text += TextContent(child);
  }
  return text;
}

bool HasElementChildren(pugi::xml_node node) {
  return static_cast<bool>(
      node.find_child([](pugi::xml_node child) { return child.type() == pugi::node_element; }));
}

std::string BooleanText(bool value) {
  return value ? "True" : "False";
}

constexpr std::string_view HoldsElements = " holds elements, not a value";

[[noreturn]] void RaiseListConversion(const char* type) {
  throw EConvertError(
      Format("Could not convert variant of type (Array Variant) into type (%s)", type));
}

} // namespace

void TStringList::Add(std::string item) {
  FItems.push_back(std::move(item));
  Changed();
}

void TStringList::Delete(std::size_t index) {
  if (index >= FItems.size())
    throw std::out_of_range(Format("List index out of bounds (%u)", index));
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void TStringList::Set(std::size_t index, std::string item) {
  FItems.at(index) = std::move(item);
  Changed();
}

void TStringList::Changed() const {
  if (FOnChange)
    FOnChange();
}

pugi::xml_node TXMLConfig::SearchByNodeName(pugi::xml_node parent, std::string_view name) {
  pugi::xml_node found;
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && child.name() == name)
      found = child;
  }
  return found;
}

TMainConfig::~TMainConfig() {
  FDestroying = true;
  std::lock_guard lock(FLock);
  if (FDocument && FModified)
    SaveXmlFileAtExit(*FDocument, FFileName);
}

void TMainConfig::Open() {
  ReportingLoadFailures([this] { OpenFile(GetAppDataFolder()); });
}

void TMainConfig::Open(const std::string& folder) {
  ReportingLoadFailures([&] { OpenFile(folder); });
}

void TMainConfig::OpenFile(const std::string& folder) {
  const std::string fileName = IncludePath(folder, "Config.xml");
  CreateXmlSkeletonIfMissing(fileName, "Config");
  auto document = LoadXmlFile(fileName);
  std::lock_guard lock(FLock);
  FFileName = fileName;
  FRootNode = document->document_element();
  FDocument = std::move(document);
  FModified = false;
}

bool TMainConfig::HasDocument() const {
  std::lock_guard lock(FLock);
  return FDocument != nullptr;
}

pugi::xml_node TMainConfig::FindTopElement(std::string_view name) const {
  return FRootNode.find_child([name](pugi::xml_node child) {
    return child.type() == pugi::node_element && LocalName(child.name()) == name;
  });
}

TConfigValue TMainConfig::ReadValue(std::string_view path, const TConfigValue& defaultValue) const {
  if (FDestroying)
    return defaultValue;
  const TPath split = SplitPath(path);
  std::lock_guard lock(FLock);
  const pugi::xml_node element = FindTopElement(split.Element);
  if (!element)
    return defaultValue;
  // Items win over the value attribute; only elements named like the item count as items.
  if (HasElementChildren(element)) {
    std::vector<std::string> items;
    for (pugi::xml_node child : element.children()) {
      if (child.type() == pugi::node_element && child.name() == split.Item)
        items.push_back(TextContent(child));
    }
    return items;
  }
  if (const pugi::xml_attribute value = element.attribute("value"))
    return std::string(value.value());
  return defaultValue;
}

void TMainConfig::WriteValue(std::string_view path, const TConfigValue& value) {
  if (FDestroying)
    return;
  const TPath split = SplitPath(path);
  std::lock_guard lock(FLock);
  if (!FDocument)
    return;
  pugi::xml_node element = FindTopElement(split.Element);
  if (!element)
    element = AppendLaidOut(FRootNode, std::string(split.Element).c_str());
  if (const auto* items = std::get_if<std::vector<std::string>>(&value)) {
    RemoveChildren(element);
    const std::string itemName(split.Item);
    for (const std::string& item : *items)
      AppendLaidOut(element, itemName.c_str()).text().set(item.c_str());
  } else {
    pugi::xml_attribute attribute = element.attribute("value");
    if (!attribute)
      attribute = element.append_attribute("value");
    if (const auto* text = std::get_if<std::string>(&value))
      attribute.set_value(text->c_str());
    else if (const auto* flag = std::get_if<bool>(&value))
      attribute.set_value(BooleanText(*flag).c_str());
    else
      attribute.set_value("");
  }
  FModified = true;
}

void TMainConfig::Save() {
  std::lock_guard lock(FLock);
  if (!FDocument)
    return;
  SaveXmlFile(*FDocument, FFileName);
  FModified = false;
}

// Hand-edited values that cannot be used give way to the default, with one report each.
bool TMainConfig::ReadBool(std::string_view key, bool defaultValue) const {
  const TConfigValue value = ReadValue(key, defaultValue);
  if (const auto* text = std::get_if<std::string>(&value)) {
    if (const auto parsed = TryTextToBool(*text))
      return *parsed;
    ReportDefaultUsed(
        key, Format("=\"%s\" is not a boolean (True, False, yes, no, on, off, 1, 0)", *text),
        BooleanText(defaultValue));
  } else if (std::holds_alternative<std::vector<std::string>>(value)) {
    ReportDefaultUsed(key, HoldsElements, BooleanText(defaultValue));
  }
  return defaultValue;
}

void TMainConfig::ReportDefaultUsed(std::string_view key, std::string_view problem,
                                    std::string_view used) const {
  {
    std::lock_guard lock(FReportedLock);
    if (!FReported.insert(std::string(key).append(problem)).second)
      return;
  }
  try {
    GetLog().AddFmt(nullptr, TLogLevel::Warning, "%s: %s%s; the default %s is used", FFileName, key,
                    problem, used);
  } catch (const std::logic_error&) {
    // The log is gone at the very end of the program; the default serves all the same.
  }
}

std::string TMainConfig::ReadText(std::string_view key, const std::string& defaultValue) const {
  const TConfigValue value = ReadValue(key, defaultValue);
  if (std::holds_alternative<std::vector<std::string>>(value))
    RaiseListConversion("OleStr");
  return std::get<std::string>(value);
}

std::string TMainConfig::DateStringFormat() const {
  return ReadText("DateStringFormat", DefaultDateStringFormat);
}

std::string TMainConfig::DisplayDateFormat() const {
  const TConfigValue value = ReadValue("DateStringFormat", std::string(DefaultDateStringFormat));
  if (const auto* text = std::get_if<std::string>(&value))
    return *text;
  ReportDefaultUsed("DateStringFormat", HoldsElements, DefaultDateStringFormat);
  return DefaultDateStringFormat;
}

int TMainConfig::SyslogPort() const {
  const TConfigValue value = ReadValue("SyslogPort", std::to_string(DefaultSyslogPort));
  const auto* text = std::get_if<std::string>(&value);
  const auto port = text != nullptr ? TryStrToInt(*text) : std::nullopt;
  if (port && *port >= 1 && *port <= 65535)
    return *port;
  ReportDefaultUsed("SyslogPort",
                    text != nullptr ? Format("=\"%s\" is not a port number (1 to 65535)", *text)
                                    : std::string(HoldsElements),
                    std::to_string(DefaultSyslogPort));
  return DefaultSyslogPort;
}

std::string TMainConfig::JournalDirectory() const {
  const TConfigValue value = ReadValue("JournalDirectory", std::string());
  if (const auto* text = std::get_if<std::string>(&value))
    return std::string(Trim(*text));
  ReportDefaultUsed("JournalDirectory", HoldsElements, "(the machine's journals)");
  return {};
}

std::size_t TMainConfig::MaxLines() const {
  return ReadLineCount("MaxLines", MinMaxLines, DefaultMaxLines);
}

std::size_t TMainConfig::InitialLines() const {
  if (FInitialLinesForThisRun)
    return *FInitialLinesForThisRun;
  return ReadLineCount("InitialLines", 0, 0);
}

std::size_t TMainConfig::ReadLineCount(std::string_view key, std::size_t minimum,
                                       std::size_t defaultValue) const {
  const TConfigValue value = ReadValue(key, std::to_string(defaultValue));
  const auto* text = std::get_if<std::string>(&value);
  const auto lines = text != nullptr ? TryStrToInt(*text) : std::nullopt;
  if (lines && *lines >= 0 && static_cast<std::size_t>(*lines) >= minimum)
    return static_cast<std::size_t>(*lines);
  ReportDefaultUsed(key,
                    text != nullptr
                        ? Format("=\"%s\" is not a number of lines (%u or more)", *text, minimum)
                        : std::string(HoldsElements),
                    std::to_string(defaultValue));
  return defaultValue;
}

TStringList& TMainConfig::MonitorFilenames() {
  if (FMonitorFilenames)
    return *FMonitorFilenames;
  FMonitorFilenames = std::make_unique<TStringList>();
  const TConfigValue value = ReadValue("MonitorFilenames.Filename", std::string());
  if (const auto* items = std::get_if<std::vector<std::string>>(&value)) {
    for (const std::string& item : *items) {
      const std::string_view name = Trim(item);
      if (!name.empty()) // an empty entry names no file
        FMonitorFilenames->Add(std::string(name));
    }
  }
  // Attached after loading, so that loading writes nothing.
  FMonitorFilenames->SetOnChange([this] { MonitorFilenamesChange(); });
  return *FMonitorFilenames;
}

void TMainConfig::MonitorFilenamesChange() {
  std::vector<std::string> items;
  for (const std::string& item : MonitorFilenames().Items())
    items.emplace_back(Trim(item));
  WriteValue("MonitorFilenames.Filename", items);
}

namespace {

TSingleInstance<TMainConfig>& ConfigInstance() {
  static TSingleInstance<TMainConfig> instance("settings store");
  return instance;
}

} // namespace

TMainConfig& GetConfig() {
  return ConfigInstance().Get([] {
    auto config = std::make_unique<TMainConfig>();
    config->Open();
    return config;
  });
}

void DestroyConfig() {
  ConfigInstance().Destroy();
}

} // namespace ornavel
