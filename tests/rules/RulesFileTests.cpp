#include "TestSupport.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "rules/RuleTextUnit.h"
#include "rules/RulesUnit.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::CrLf;
using test::ReadFile;
using test::WriteFile;

const std::string Declaration = R"(<?xml version="1.0"?>)";

class RulesFile : public testing::Test {
protected:
  std::string FileName() const { return Folder.File("Rules.xml"); }
  std::string FileText() const { return ReadFile(FileName()); }

  TRules& Open() {
    List = std::make_unique<TRules>();
    List->Open(Folder.Path());
    return *List;
  }
  TRules& Open(std::string_view fileText) {
    WriteFile(FileName(), fileText);
    return Open();
  }

  // Reports posted to the log by what runs.
  std::vector<TLogItem> Reports(const std::function<void()>& run) {
    const std::size_t before = GetLog().Count();
    run();
    std::vector<TLogItem> reports;
    for (std::size_t i = before; i < GetLog().Count(); ++i)
      reports.push_back(GetLog().GetItem(i));
    return reports;
  }

  test::TTemporaryFolder Folder;
  std::unique_ptr<TRules> List;
};

TEST_F(RulesFile, MissingFileIsCreatedEmpty) {
  EXPECT_EQ(Open().Count(), 0u);
  EXPECT_EQ(FileText(), CrLf({Declaration, "<Rules/>"}));
}

TEST_F(RulesFile, SaveWritesTheRulesLineByLineAndTwiceTheSame) {
  TRules& rules = Open();
  auto add = [&](const char* name, TColor color, const char* pattern, bool active, bool logLine,
                 TMonitorTypes types) {
    auto rule = std::make_unique<TRule>();
    rule->SetName(name);
    rule->SetColor(color);
    rule->SetRegExp(pattern);
    rule->SetActive(active);
    rule->SetLogLine(logLine);
    rule->SetMonitorTypes(types);
    rules.Add(std::move(rule));
  };
  add("Errors", clRed, "error", true, true, TMonitorTypes::All());
  add("Heartbeats", 0x00FF8080, "heartbeat ok", false, false, {mtSyslog});
  rules.Add(std::make_unique<TRule>());
  rules.GetRule(2).SetMonitorTypes({});
  rules.GetRule(1).SetSource("10.0.0.*"); // written only where set
  rules.GetRule(0).SetAlert(true);        // likewise
  rules.Save();
  const std::string expected = CrLf({
      Declaration,
      "<Rules>",
      R"(  <Rule name="Errors" color="clRed" regexp="error" active="True" logline="True" monitortypes="mtFile,mtSyslog,mtEventLog,mtDebugString" alert="True"/>)",
      R"(  <Rule name="Heartbeats" color="$00FF8080" regexp="heartbeat%20ok" active="False" logline="False" monitortypes="mtSyslog" source="10.0.0.*"/>)",
      R"(  <Rule name="Unnamed" color="clWhite" regexp="" active="False" logline="True" monitortypes=""/>)",
      "</Rules>",
  });
  EXPECT_EQ(FileText(), expected);
  rules.Save();
  EXPECT_EQ(FileText(), expected);

  TRules& reread = Open();
  ASSERT_EQ(reread.Count(), 3u);
  EXPECT_EQ(reread.GetRule(1).Name(), "Heartbeats");
  EXPECT_EQ(reread.GetRule(1).RegExp(), "heartbeat ok");
  EXPECT_EQ(reread.GetRule(1).Color(), 0x00FF8080);
  EXPECT_EQ(reread.GetRule(1).Source(), "10.0.0.*");
  EXPECT_TRUE(reread.GetRule(0).Alert());
  EXPECT_FALSE(reread.GetRule(1).Alert());
  EXPECT_EQ(reread.GetRule(2).MonitorTypes(), TMonitorTypes());
  reread.Save();
  EXPECT_EQ(FileText(), expected);
}

TEST_F(RulesFile, MissingAttributesTakeTheValuesOfANewRule) {
  TRules& rules = Open(CrLf({Declaration, "<Rules>", "<Rule/>", "</Rules>"}));
  ASSERT_EQ(rules.Count(), 1u);
  const TRule& rule = rules.GetRule(0);
  EXPECT_EQ(rule.Name(), "Unnamed");
  EXPECT_EQ(rule.Color(), clWhite);
  EXPECT_EQ(rule.RegExp(), "");
  EXPECT_FALSE(rule.Active());
  EXPECT_TRUE(rule.LogLine());
  EXPECT_EQ(rule.MonitorTypes(), TMonitorTypes::All());
  EXPECT_FALSE(rule.Alert());
}

TEST_F(RulesFile, ReadsOnlyRuleElementsAndKeepsTheRootName) {
  TRules& rules = Open(CrLf({Declaration, "<!-- mine -->", R"(<MyRules version="2">)",
                             R"(<rule name="lower case"/>)", "<!-- skip -->", "text",
                             R"(<Other name="other"/>)", R"(<Rule name="Kept" active="true"/>)",
                             R"(<Group><Rule name="nested"/></Group>)", "</MyRules>"}));
  ASSERT_EQ(rules.Count(), 1u);
  EXPECT_EQ(rules.GetRule(0).Name(), "Kept");
  EXPECT_TRUE(rules.GetRule(0).Active());
  rules.Save();
  EXPECT_EQ(
      FileText(),
      CrLf(
          {Declaration, "<!-- mine -->", R"(<MyRules version="2">)",
           R"(  <Rule name="Kept" color="clWhite" regexp="" active="True" logline="True" monitortypes="mtFile,mtSyslog,mtEventLog,mtDebugString"/>)",
           "</MyRules>"}));
}

TEST_F(RulesFile, AttributeTextFormsAreReadAndWrittenBackInTheirOwnForm) {
  TRules& rules = Open(CrLf(
      {Declaration, "<Rules>",
       R"(<Rule name="a &amp; b" color="$000000FF" active="1" logline="TRUE" monitortypes="[mtSyslog, mtFile]"/>)",
       R"(<Rule color="255" active="0" logline="false" monitortypes=""/>)", "</Rules>"}));
  ASSERT_EQ(rules.Count(), 2u);
  EXPECT_EQ(rules.GetRule(0).Name(), "a & b");
  EXPECT_EQ(rules.GetRule(0).Color(), clRed);
  EXPECT_TRUE(rules.GetRule(0).Active());
  EXPECT_EQ(rules.GetRule(0).MonitorTypes(), (TMonitorTypes{mtFile, mtSyslog}));
  EXPECT_EQ(rules.GetRule(1).Color(), clRed);
  EXPECT_FALSE(rules.GetRule(1).LogLine());
  EXPECT_TRUE(rules.GetRule(1).MonitorTypes().Empty());
  rules.Save();
  EXPECT_EQ(
      FileText(),
      CrLf(
          {Declaration, "<Rules>",
           R"(  <Rule name="a &amp; b" color="clRed" regexp="" active="True" logline="True" monitortypes="mtFile,mtSyslog"/>)",
           R"(  <Rule name="Unnamed" color="clRed" regexp="" active="False" logline="False" monitortypes=""/>)",
           "</Rules>"}));
}

TEST_F(RulesFile, PatternsArePercentEncoded) {
  const std::string pattern = "100% <disk> [0-9]+ #\x01\xE9*x";
  EXPECT_EQ(PercentEncode(pattern), "100%25%20%3Cdisk%3E%20%5B0-9%5D%2B%20%23%01%E9%2Ax");
  EXPECT_EQ(PercentDecode(PercentEncode(pattern)), pattern);
  EXPECT_EQ(PercentEncode("disk [0-9]+"), "disk%20%5B0-9%5D%2B");
  EXPECT_EQ(PercentDecode("%e9%7e"), "\xE9~");
  // Written by hand: a % without two hex digits after it is itself.
  const std::pair<const char*, const char*> typed[] = {{"100% done", "100% done"},
                                                       {"disk 9[0-9]% full", "disk 9[0-9]% full"},
                                                       {"a%4", "a%4"},
                                                       {"a%ZZb", "a%ZZb"},
                                                       {"a%", "a%"},
                                                       {"%%41", "%A"}};
  for (const auto& [text, decoded] : typed)
    EXPECT_EQ(PercentDecode(text), decoded) << text;
  std::string everyByte;
  for (int code = 1; code < 256; ++code)
    everyByte += static_cast<char>(code);
  const std::string encoded = PercentEncode(everyByte);
  EXPECT_TRUE(std::ranges::all_of(encoded, [](char c) { return c >= 32 && c <= 127; }));
  EXPECT_EQ(PercentDecode(encoded), everyByte);
}

TEST_F(RulesFile, PatternSurvivesTheFile) {
  TRules& rules = Open();
  auto rule = std::make_unique<TRule>();
  rule->SetRegExp("100% <d\xE9j\xE0> \"q\" & [x]");
  rules.Add(std::move(rule));
  rules.Save();
  EXPECT_EQ(Open().GetRule(0).RegExp(), "100% <d\xE9j\xE0> \"q\" & [x]");
}

// As many rules as a script may write: all read, in file order, and the last that matches decides.
// Read one change at a time, this took minutes.
TEST_F(RulesFile, AHundredThousandRulesAreReadInFileOrder) {
  constexpr int Count = 100'000;
  std::string text = Declaration + "\r\n<Rules>\r\n";
  for (int i = 0; i < Count; ++i)
    text +=
        Format(R"(<Rule name="r%d" color="%d" regexp="token%dx" active="True"/>)", i, i, i % 1000) +
        "\r\n";
  TRules& rules = Open(text + "</Rules>\r\n");
  ASSERT_EQ(rules.Count(), static_cast<std::size_t>(Count));
  EXPECT_EQ(rules.GetRule(Count - 1).Name(), Format("r%d", Count - 1));
  std::vector<std::string> faults;
  TLogItem item{0, TLogLevel::Notice, nullptr, mtFile, clWindowText, "a token7x here", {}, {}, {}};
  EXPECT_TRUE(rules.ProcessItem(item, faults));
  EXPECT_EQ(item.Color, Count - 1000 + 7);
}

TEST_F(RulesFile, FaultyValueEndsTheReadingAndASaveKeepsTheUnreadElements) {
  const std::string third = R"(<Rule name="Third" regexp="c" monitortypes="mtSyslog"/>)";
  const std::string faulty = R"(<Rule name="Second" color="reddish"/>)";
  const auto reports = Reports([&] {
    Open(CrLf(
        {Declaration, "<Rules>", R"(<Rule name="First" regexp="a"/>)", faulty, third, "</Rules>"}));
  });
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Text, FileName() + ": rule 2 (Second), color=\"reddish\": 'reddish' is "
                                          "not a valid integer value");
  EXPECT_EQ(reports[0].Level, TLogLevel::LoadFailure);
  EXPECT_EQ(reports[0].Source, nullptr);
  ASSERT_EQ(List->Count(), 1u);
  EXPECT_EQ(List->GetRule(0).Name(), "First");

  List->Save();
  List->Save();
  EXPECT_EQ(
      FileText(),
      CrLf(
          {Declaration, "<Rules>",
           R"(  <Rule name="First" color="clWhite" regexp="a" active="False" logline="True" monitortypes="mtFile,mtSyslog,mtEventLog,mtDebugString"/>)",
           "  " + faulty, "  " + third, "</Rules>"}));
}

struct TFaultCase {
  const char* Attribute;
  const char* Message;
};

class RulesFileFaults : public RulesFile, public testing::WithParamInterface<TFaultCase> {};

// The report says where: the file, the rule's place and name, the attribute and its value.
TEST_P(RulesFileFaults, EachValueFailureIsReportedWithItsMessageAndPlace) {
  const auto reports = Reports([&] {
    Open(CrLf({Declaration, "<Rules>", R"(<Rule name="ok" active="yes" logline="Off"/>)",
               std::string("<Rule name=\"Bad\" ") + GetParam().Attribute + "/>", "</Rules>"}));
  });
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Text,
            FileName() + ": rule 2 (Bad), " + GetParam().Attribute + ": " + GetParam().Message);
  ASSERT_EQ(List->Count(), 1u);
  EXPECT_TRUE(List->GetRule(0).Active()); // the words people write are read
  EXPECT_FALSE(List->GetRule(0).LogLine());
}

INSTANTIATE_TEST_SUITE_P(
    RulesFile, RulesFileFaults,
    testing::Values(
        TFaultCase{R"(color="reddish")", "'reddish' is not a valid integer value"},
        TFaultCase{R"(active="maybe")",
                   "Could not convert variant of type (OleStr) into type (Boolean): a yes or no "
                   "is True or False, yes or no, on or off, or a number"},
        TFaultCase{R"(logline="")",
                   "Could not convert variant of type (OleStr) into type (Boolean): a yes or no "
                   "is True or False, yes or no, on or off, or a number"},
        TFaultCase{R"(monitortypes="mtFile,mtPrinter")", "Invalid property element: mtPrinter"}),
    [](const auto& info) { return test::CaseName(info.index, info.param.Attribute); });

TEST_F(RulesFile, UnparsableFileLeavesNoRulesAndIsNeverOverwritten) {
  const std::string broken = CrLf({Declaration, "<Rules>", R"(<Rule name="x">)", "</Rules>"});
  const auto reports = Reports([&] { Open(broken); });
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Text, FileName() + ", line 4: Start-end tags mismatch: \"</Rules>\"");
  EXPECT_EQ(List->Count(), 0u);
  List->Add(std::make_unique<TRule>());
  EXPECT_THROW(List->Save(), std::runtime_error);
  List.reset();
  EXPECT_EQ(FileText(), broken);
}

TEST_F(RulesFile, SavingAnEmptyListLeavesAnEmptyRoot) {
  TRules& rules = Open(CrLf({Declaration, "<Rules>", R"(  <Rule name="gone"/>)", "</Rules>"}));
  rules.Delete(0);
  rules.Save();
  EXPECT_EQ(FileText(), CrLf({Declaration, "<Rules/>"}));
}

TEST_F(RulesFile, FailedSaveRaisesKeepsTheOldFileAndIsTriedAgainAtTheEnd) {
  TRules& rules = Open();
  rules.Add(std::make_unique<TRule>());
  {
    test::TFullDisk full;
    EXPECT_THROW(rules.Save(), std::runtime_error);
  }
  EXPECT_EQ(FileText(), CrLf({Declaration, "<Rules/>"}));
  List.reset();
  EXPECT_NE(FileText().find(R"(<Rule name="Unnamed")"), std::string::npos);
}

TEST_F(RulesFile, EditsReachTheFileOnlyBySaving) {
  TRules& rules = Open(CrLf({Declaration, "<Rules>", R"(  <Rule name="one"/>)", "</Rules>"}));
  const std::string before = FileText();
  rules.GetRule(0).SetName("renamed");
  rules.Add(std::make_unique<TRule>());
  List.reset();
  EXPECT_EQ(FileText(), before);
}

} // namespace
} // namespace ornavel
