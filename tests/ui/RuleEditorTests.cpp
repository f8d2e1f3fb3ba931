#include "FakeDialogsUnit.h"
#include "TestSupport.h"
#include "config/AppDataUnit.h"
#include "core/LogUnit.h"
#include "rules/PatternUnit.h"
#include "rules/RulesUnit.h"
#include "ui/MarkupLabelUnit.h"
#include "ui/RuleSentenceUnit.h"
#include "ui/SettingsFormUnit.h"

#include <QListWidget>
#include <QPushButton>
#include <atomic>
#include <set>
#include <thread>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::ReadFile;

struct TRuleFields {
  std::string Name = "Unnamed";
  bool Active = false;
  TMonitorTypes Types = TMonitorTypes::All();
  std::string RegExp;
  bool LogLine = true;
  TColor Color = clWhite;
  std::string Source;

  TRuleFields& WithName(std::string value) { return Set(&TRuleFields::Name, std::move(value)); }
  TRuleFields& WithActive(bool value) { return Set(&TRuleFields::Active, value); }
  TRuleFields& WithTypes(TMonitorTypes value) { return Set(&TRuleFields::Types, value); }
  TRuleFields& WithRegExp(std::string value) { return Set(&TRuleFields::RegExp, std::move(value)); }
  TRuleFields& WithColor(TColor value) { return Set(&TRuleFields::Color, value); }
  TRuleFields& WithSource(std::string value) { return Set(&TRuleFields::Source, std::move(value)); }

  template <class T>
  TRuleFields& Set(T TRuleFields::*member, T value) {
    this->*member = std::move(value);
    return *this;
  }
};

TRuleFields Named(std::string name, bool active = false) {
  return TRuleFields().WithName(std::move(name)).WithActive(active);
}

std::unique_ptr<TRule> MakeRule(const TRuleFields& fields) {
  auto rule = std::make_unique<TRule>();
  rule->SetName(fields.Name);
  rule->SetActive(fields.Active);
  rule->SetMonitorTypes(fields.Types);
  rule->SetRegExp(fields.RegExp);
  rule->SetLogLine(fields.LogLine);
  rule->SetColor(fields.Color);
  rule->SetSource(fields.Source);
  return rule;
}

// ---- The sentence's markup ----

struct TSentenceCase {
  std::string Label;
  TRuleFields Fields;
  std::string Expected;
  bool Whole = false; // the whole sentence, else a piece of it
};

void PrintTo(const TSentenceCase& sentenceCase, std::ostream* out) {
  *out << sentenceCase.Label;
}

class RuleSentenceTest : public testing::TestWithParam<TSentenceCase> {};

TEST_P(RuleSentenceTest, BuildsTheMarkup) {
  const std::string sentence = RuleSentence(*MakeRule(GetParam().Fields));
  if (GetParam().Whole)
    EXPECT_EQ(sentence, GetParam().Expected);
  else
    EXPECT_NE(sentence.find(GetParam().Expected), std::string::npos) << sentence;
}

const TSentenceCase SentenceCases[] = {
    {"the example",
     {"Errors", true, TMonitorTypes::All(), "error", true, clRed, ""},
     "Rule: <link param=name>Errors</link> (<link param=active>active</link>)<br><br>If a line "
     "originating from <link param=monitortypes>files, syslog, eventlog or "
     "OutputDebugString</link>, <link param=source>from any source</link>, contains <link "
     "param=regexp>error</link>, then <link "
     "param=logline>log it</link> in color <link param=color>Red</link> and <link "
     "param=alert>don't alert me</link>",
     true},
    {"a new rule",
     {},
     "Rule: <link param=name>Unnamed</link> (<link param=active>inactive</link>)<br><br>If a line "
     "originating from <link param=monitortypes>files, syslog, eventlog or "
     "OutputDebugString</link>, <link param=source>from any source</link>, contains <link "
     "param=regexp>[click here to change text]</link>, "
     "then <link param=logline>log it</link> in color <link param=color>White</link> and <link "
     "param=alert>don't alert me</link>",
     true},
    {"a dropping rule",
     {"Noise", true, {mtFile}, "x", false, clRed, "*nginx*"},
     "Rule: <link param=name>Noise</link> (<link param=active>active</link>)<br><br>If a line "
     "originating from <link param=monitortypes>files</link>, <link param=source>from sources "
     "like *nginx*</link>, contains <link param=regexp>x</link>, "
     "then <link param=logline>don't log it</link>.",
     true},
    {"no type", TRuleFields().WithTypes(TMonitorTypes{}),
     "from <link param=monitortypes>[click here to select monitor "
     "types]</link>, <link param=source>from any source</link>, contains"},
    {"one type", TRuleFields().WithTypes(TMonitorTypes{mtEventLog}),
     "from <link param=monitortypes>eventlog</link>, <link param=source>from any source</link>, "
     "contains"},
    {"two types", TRuleFields().WithTypes(TMonitorTypes{mtSyslog, mtDebugString}),
     "from <link param=monitortypes>syslog or OutputDebugString</link>, <link param=source>from "
     "any source</link>, contains"},
    {"three types", TRuleFields().WithTypes(TMonitorTypes{mtFile, mtSyslog, mtEventLog}),
     "from <link param=monitortypes>files, syslog or eventlog</link>, <link param=source>from any "
     "source</link>, contains"},
    {"three types without syslog",
     TRuleFields().WithTypes(TMonitorTypes{mtFile, mtEventLog, mtDebugString}),
     "from <link param=monitortypes>files, eventlog or OutputDebugString</link>, <link "
     "param=source>from any source</link>, contains"},
    {"a pattern with markup characters", TRuleFields().WithRegExp("a b+c<d"),
     "contains <link param=regexp>a%20b%2Bc%3Cd</link>,"},
    {"an empty name", TRuleFields().WithName(""), "Rule: <link param=name>Unnamed</link> ("},
    {"a name with markup", TRuleFields().WithName("a<b>&c"),
     "Rule: <link param=name>a<b>&c</link> ("},
    {"a system colour", TRuleFields().WithColor(clWindowText),
     "in color <link param=color>WindowText</link>"},
    {"an unnamed colour", TRuleFields().WithColor(0x00FF8080),
     "in color <link param=color>$00FF8080</link>"},
};

INSTANTIATE_TEST_SUITE_P(Cases, RuleSentenceTest, testing::ValuesIn(SentenceCases),
                         [](const auto& info) {
                           return test::CaseName(info.index, info.param.Label);
                         });

// ---- The markup as rich text ----

TEST(MarkupLabel, LinksBecomeAnchorsTextIsEscapedAndTheHotLinkIsBlue) {
  const auto pieces = ParseMarkup("Rule: <link param=name>a<b>&c</link> x<br>y < z</link>");
  ASSERT_EQ(pieces.size(), 5U);
  EXPECT_EQ(pieces[1].Param, "name");
  EXPECT_EQ(pieces[1].Text, "a<b>&c");
  EXPECT_EQ(pieces[4].Text, "y < z</link>");
  const QString html = MarkupToRichText(pieces, "name", Qt::black);
  EXPECT_EQ(html, "Rule: <a href=\"name\" style=\"color:#0000ff; text-decoration:underline\">"
                  "a&lt;b&gt;&amp;c</a> x<br>y &lt; z&lt;/link&gt;");
  EXPECT_EQ(MarkupToRichText(pieces, {}, Qt::black).count("#0000ff"), 0);

  TMarkupLabel label(nullptr);
  label.SetMarkup("<link param=name>Errors</link> <link param=regexp>a%20b</link>");
  std::vector<std::pair<QString, QString>> clicks;
  QObject::connect(
      &label, &TMarkupLabel::LinkClick,
      [&](const QString& param, const QString& text) { clicks.emplace_back(param, text); });
  emit label.linkActivated("regexp");
  EXPECT_EQ(clicks, (std::vector<std::pair<QString, QString>>{{"regexp", "a%20b"}}));
  emit label.linkHovered("regexp");
  EXPECT_EQ(label.text().count("#0000ff"), 1);
  EXPECT_LT(label.text().indexOf("name"), label.text().indexOf("#0000ff"));
  emit label.linkHovered(QString());
  EXPECT_EQ(label.text().count("#0000ff"), 0);
}

// ---- The Rules tab ----

class RuleEditorTest : public testing::Test {
protected:
  void SetUp() override {
    while (GetRules().Count() > 0)
      GetRules().Delete(0);
  }

  static TRule& Add(const TRuleFields& fields) { return GetRules().Add(MakeRule(fields)); }
  void Open() {
    Form = std::make_unique<TSettingsForm>(nullptr);
    List = Form->findChild<QListWidget*>("RulesCheckListBox");
    Label = Form->findChild<TMarkupLabel*>("RuleLinkLabel");
  }
  void Select(int row) const { List->setCurrentRow(row); }
  void Click(const char* param) const { emit Label->linkActivated(param); }
  QString Sentence() const { return Label->PlainText(); }
  bool ApplyEnabled() const { return Form->findChild<QPushButton*>("ApplyButton")->isEnabled(); }

  // Rows as name and check, and the rules as name and Active: the two must agree.
  std::vector<std::pair<std::string, bool>> Rows() const {
    std::vector<std::pair<std::string, bool>> rows;
    for (int row = 0; row < List->count(); ++row)
      rows.emplace_back(List->item(row)->text().toStdString(),
                        List->item(row)->checkState() == Qt::Checked);
    return rows;
  }
  static std::vector<std::pair<std::string, bool>> Rules() {
    std::vector<std::pair<std::string, bool>> rules;
    for (std::size_t i = 0; i < GetRules().Count(); ++i)
      rules.emplace_back(GetRules().GetRule(i).Name(), GetRules().GetRule(i).Active());
    return rules;
  }

  test::TFakeDialogsInPlace Fake;
  std::unique_ptr<TSettingsForm> Form;
  QListWidget* List = nullptr;
  TMarkupLabel* Label = nullptr;
};

const QString NoRule = "Select a rule above to change it";

TEST_F(RuleEditorTest, WithNoRulesDeleteAndMovesDoNothing) {
  Open();
  EXPECT_EQ(List->count(), 0);
  EXPECT_EQ(Sentence(), NoRule);
  Form->DeleteRuleButtonClick();
  Form->MoveUpSpeedButtonClick();
  Form->MoveDownSpeedButtonClick();
  Click("name");
  EXPECT_EQ(Form->SelectedRule(), -1);
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_TRUE(Fake->Boxes.empty());
}

TEST_F(RuleEditorTest, AddingTwiceAppendsUncheckedUnnamedRowsAndLeavesTheSentence) {
  Add(Named("First", true));
  Open();
  Select(0);
  const QString before = Sentence();
  Form->AddRuleButtonClick();
  Form->AddRuleButtonClick();
  const std::vector<std::pair<std::string, bool>> expected{
      {"First", true}, {"Unnamed", false}, {"Unnamed", false}};
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(Rules(), expected);
  EXPECT_EQ(Sentence(), before);
  EXPECT_TRUE(ApplyEnabled());
  EXPECT_TRUE(Fake->Boxes.empty());
  Select(2);
  EXPECT_EQ(Sentence(), "Rule: Unnamed (inactive)\n\nIf a line originating from files, syslog, "
                        "eventlog or OutputDebugString, from any source, contains [click here to "
                        "change text], then log it in color White and don't alert me");
}

TEST_F(RuleEditorTest, NameLinkRenamesTheRuleAndItsRowAndCancelNamesAnUnnamedRule) {
  TRule& rule = Add(TRuleFields().WithName("").WithActive(true));
  Open();
  Select(0);
  Fake->Inputs = {std::nullopt, QString("Errors")};
  Click("name");
  ASSERT_EQ(Fake->Boxes.size(), 1U);
  EXPECT_EQ(Fake->Boxes[0].Title, "New name");
  EXPECT_EQ(Fake->Boxes[0].Text, "Select a new name for selected rule");
  EXPECT_EQ(Fake->Boxes[0].Preset, "Unnamed");
  EXPECT_EQ(rule.Name(), "Unnamed");
  Click("name");
  EXPECT_EQ(Fake->Boxes[1].Preset, "Unnamed");
  EXPECT_EQ(rule.Name(), "Errors");
  EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, bool>>{{"Errors", true}}));
  EXPECT_TRUE(List->item(0)->isSelected());
  EXPECT_TRUE(Sentence().startsWith("Rule: Errors (active)"));
  EXPECT_FALSE(ApplyEnabled());
}

TEST_F(RuleEditorTest, ActiveAlertAndLogLineLinksAskWithTheirDefaultsAndTheRowFollows) {
  TRule& rule = Add(TRuleFields().WithActive(false).WithRegExp("x"));
  Open();
  Select(0);
  Fake->YesNo = {true, false, true, false};
  Click("active");
  EXPECT_TRUE(rule.Active());
  EXPECT_EQ(List->item(0)->checkState(), Qt::Checked);
  Click("active");
  EXPECT_FALSE(rule.Active());
  EXPECT_EQ(List->item(0)->checkState(), Qt::Unchecked);
  Click("alert");
  EXPECT_TRUE(rule.Alert());
  EXPECT_TRUE(Sentence().endsWith("in color White and alert me"));
  Click("logline");
  ASSERT_EQ(Fake->Boxes.size(), 4U);
  EXPECT_EQ(Fake->Boxes[0].Title, "Active");
  EXPECT_EQ(Fake->Boxes[0].Text, "Do you want this rule to be active?");
  EXPECT_FALSE(Fake->Boxes[0].DefaultYes);
  EXPECT_TRUE(Fake->Boxes[1].DefaultYes);
  EXPECT_FALSE(Fake->Boxes[2].DefaultYes);
  EXPECT_EQ(Fake->Boxes[3].Title, "Log line");
  EXPECT_EQ(Fake->Boxes[3].Text, "Do you want to log the line matching this rule?");
  EXPECT_TRUE(Fake->Boxes[3].DefaultYes);
  EXPECT_FALSE(rule.LogLine());
  EXPECT_TRUE(Sentence().endsWith("contains x, then don't log it."));
  EXPECT_FALSE(ApplyEnabled());
}

TEST_F(RuleEditorTest, NoToAllFourMonitorTypeQuestionsLeavesARuleForNoSource) {
  TRule& rule = Add(TRuleFields().WithTypes(TMonitorTypes{mtSyslog}));
  Open();
  Select(0);
  Fake->YesNo = {false, false, false, false};
  Click("monitortypes");
  ASSERT_EQ(Fake->Boxes.size(), 4U);
  const char* sources[] = {"files", "syslog", "eventlog", "OutputDebugString"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Fake->Boxes[i].Title, "Choose monitor types");
    EXPECT_EQ(Fake->Boxes[i].Text,
              QString("Do you want this rule to apply on lines coming from %1?").arg(sources[i]));
    EXPECT_EQ(Fake->Boxes[i].DefaultYes, i == 1) << i;
  }
  EXPECT_TRUE(rule.MonitorTypes().Empty());
  EXPECT_TRUE(Sentence().contains("from [click here to select monitor types], from any source,"));
  Fake->YesNo = {true, false, false, true};
  Click("monitortypes");
  EXPECT_EQ(rule.MonitorTypes(), (TMonitorTypes{mtFile, mtDebugString}));
}

TEST_F(RuleEditorTest, PatternShowsEncodedInTheSentenceAndRawInTheBox) {
  TRule& rule = Add(TRuleFields().WithRegExp("a b+c"));
  Add(TRuleFields().WithName("Empty"));
  Open();
  Select(0);
  EXPECT_TRUE(Sentence().contains("contains a%20b%2Bc, then"));
  Fake->Inputs = {std::nullopt, std::nullopt};
  Click("regexp");
  EXPECT_EQ(Fake->Boxes[0].Title, "New regexp/string");
  EXPECT_EQ(Fake->Boxes[0].Text,
            "Choose a new string (or regexp) that should match an incoming line");
  EXPECT_EQ(Fake->Boxes[0].Preset, "a b+c");
  EXPECT_EQ(rule.RegExp(), "a b+c");
  Select(1);
  Click("regexp");
  EXPECT_EQ(Fake->Boxes[1].Preset, "");
  EXPECT_EQ(GetRules().GetRule(1).RegExp(), "");
  EXPECT_TRUE(Sentence().contains("contains [click here to change text],"));
}

TEST_F(RuleEditorTest, SourceLinkLimitsTheRuleToSourcesLikeAPatternAndEmptyToAll) {
  TRule& rule = Add(TRuleFields().WithActive(true));
  Open();
  Select(0);
  Fake->Inputs = {QString(" *nginx* "), QString("")};
  Click("source");
  EXPECT_EQ(Fake->Boxes[0].Title, "Sources");
  EXPECT_EQ(Fake->Boxes[0].Preset, "");
  EXPECT_EQ(rule.Source(), "*nginx*");
  EXPECT_TRUE(Sentence().contains("OutputDebugString, from sources like *nginx*, contains"));
  Click("source");
  EXPECT_EQ(Fake->Boxes[1].Preset, "*nginx*");
  EXPECT_EQ(rule.Source(), "");
}

TEST_F(RuleEditorTest, APatternThatDoesNotCompileIsKeptAndItsMessageShown) {
  TRule& rule = Add(TRuleFields().WithActive(true));
  Open();
  Select(0);
  Fake->Inputs = {QString("(unclosed"), QString("closed")};
  Click("regexp");
  EXPECT_EQ(rule.RegExp(), "(unclosed");
  std::string message;
  try {
    TPattern("(unclosed").Search("");
  } catch (const EPatternError& failure) {
    message = failure.what();
  }
  ASSERT_FALSE(message.empty());
  EXPECT_TRUE(Sentence().endsWith(QString::fromStdString(message))) << Sentence().toStdString();
  Click("regexp");
  EXPECT_TRUE(Sentence().endsWith("in color White and don't alert me"));
}

TEST_F(RuleEditorTest, ColorLinkPresetsTheUnnamedColourAndTakesTheChoice) {
  TRule& rule = Add(TRuleFields().WithColor(0x00FF8080));
  Open();
  Select(0);
  Fake->Colors = {std::nullopt, clRed, 0x00123456};
  Click("color");
  EXPECT_EQ(Fake->Boxes[0].Preset, "00FF8080");
  EXPECT_EQ(Fake->Boxes[0].Initial, 0x00FF8080);
  EXPECT_EQ(rule.Color(), 0x00FF8080);
  Click("color");
  EXPECT_EQ(rule.Color(), clRed);
  EXPECT_TRUE(Sentence().endsWith("in color Red and don't alert me"));
  Click("color");
  EXPECT_EQ(Fake->Boxes[2].Preset, ""); // a named colour fills no custom slot
  EXPECT_TRUE(Sentence().endsWith("in color $00123456 and don't alert me"));
}

TEST_F(RuleEditorTest, ALinkWithoutParameterDoesNothingAndAnUnknownOneRebuilds) {
  TRule& rule = Add(TRuleFields().WithName("Before"));
  Open();
  Select(0);
  rule.SetName("After");
  Click("");
  EXPECT_TRUE(Sentence().startsWith("Rule: Before"));
  Click("unknown");
  EXPECT_TRUE(Sentence().startsWith("Rule: After"));
  EXPECT_TRUE(Fake->Boxes.empty());
}

TEST_F(RuleEditorTest, UncheckingTheSelectedRuleTakesEffectAndIsWrittenOnlyByApply) {
  TRule& rule = Add(TRuleFields().WithName("Kept").WithActive(true).WithRegExp("x"));
  GetRules().Save();
  const std::string saved = ReadFile(IncludePath(GetAppDataFolder(), "Rules.xml"));
  Open();
  Select(0);
  List->item(0)->setCheckState(Qt::Unchecked);
  EXPECT_FALSE(rule.Active());
  EXPECT_TRUE(Sentence().startsWith("Rule: Kept (inactive)"));
  EXPECT_FALSE(ApplyEnabled());
  Form->done(QDialog::Rejected);
  EXPECT_EQ(ReadFile(IncludePath(GetAppDataFolder(), "Rules.xml")), saved);
  Open();
  EXPECT_EQ(Rows(), (std::vector<std::pair<std::string, bool>>{{"Kept", false}}));
  Form->ApplyButtonClick();
  EXPECT_NE(ReadFile(IncludePath(GetAppDataFolder(), "Rules.xml")).find("active=\"False\""),
            std::string::npos);
}

TEST_F(RuleEditorTest, MovingKeepsRowsRulesAndCheckBoxesTogetherAndStopsAtTheEnds) {
  Add(Named("A", true));
  Add(Named("B", false));
  Add(Named("C", true));
  Open();
  Form->MoveUpSpeedButtonClick(); // nothing selected
  Select(0);
  Form->MoveUpSpeedButtonClick();
  Select(2);
  Form->MoveDownSpeedButtonClick();
  const std::vector<std::pair<std::string, bool>> unchanged{{"A", true}, {"B", false}, {"C", true}};
  EXPECT_EQ(Rows(), unchanged);
  EXPECT_EQ(Rules(), unchanged);
  Form->MoveUpSpeedButtonClick();
  const std::vector<std::pair<std::string, bool>> moved{{"A", true}, {"C", true}, {"B", false}};
  EXPECT_EQ(Rows(), moved);
  EXPECT_EQ(Rules(), moved);
  EXPECT_EQ(Form->SelectedRule(), 1);
  EXPECT_TRUE(List->item(1)->isSelected());
  EXPECT_TRUE(Sentence().startsWith("Rule: C (active)"));
  Form->MoveDownSpeedButtonClick();
  EXPECT_EQ(Rules(), unchanged);
  EXPECT_EQ(Rows(), unchanged);
  EXPECT_EQ(Form->SelectedRule(), 2);
  EXPECT_FALSE(ApplyEnabled());
}

TEST_F(RuleEditorTest, DeleteThenMoveKeepsListAndRowsInAgreement) {
  Add(Named("A", true));
  Add(Named("B", false));
  Add(Named("C", true));
  Open();
  Select(1);
  Form->DeleteRuleButtonClick();
  EXPECT_EQ(Form->SelectedRule(), -1);
  EXPECT_EQ(Sentence(), NoRule);
  EXPECT_TRUE(ApplyEnabled());
  EXPECT_TRUE(List->selectedItems().isEmpty());
  Form->DeleteRuleButtonClick(); // nothing selected any more
  EXPECT_EQ(GetRules().Count(), 2U);
  Select(1);
  Form->MoveUpSpeedButtonClick();
  const std::vector<std::pair<std::string, bool>> expected{{"C", true}, {"A", true}};
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(Rules(), expected);
  EXPECT_EQ(Form->SelectedRule(), 0);
}

// A source thread posts lines while the editor changes the rule that matches them. Whatever the
// interleaving, every line must come out in a state the rule really had, and the first line after
// the last edit must follow it.
TEST_F(RuleEditorTest, EditsTakeEffectSafelyWhileASourceThreadPosts) {
  TRule& rule = Add({"Ticks", true, {mtFile}, "tick", true, clRed, ""});
  Open();
  Select(0);
  const auto source = test::MakeSourceOf(mtFile);
  TLog& log = GetLog();
  log.AttachFilter(&GetRules()); // as the driver does
  log.Clear();
  std::atomic<bool> stop{false};
  std::atomic<int> posted{0};
  std::thread poster([&] {
    while (!stop) {
      log.AddLine(source.get(), "tick " + std::to_string(posted));
      ++posted;
    }
  });
  while (posted == 0)
    std::this_thread::yield();
  for (int round = 0; round < 200; ++round) {
    Fake->Colors = {round % 2 == 0 ? clLime : clRed};
    Click("color");
    Fake->YesNo = {round % 3 != 0};
    Click("logline");
    List->item(Form->SelectedRule())->setCheckState(round % 5 == 0 ? Qt::Unchecked : Qt::Checked);
    Form->AddRuleButtonClick();
    Form->MoveDownSpeedButtonClick();
    Form->MoveUpSpeedButtonClick();
    Select(1);
    Form->DeleteRuleButtonClick();
    Select(0);
  }
  stop = true;
  poster.join();
  const std::set<TColor> possible{clRed, clLime, clWindowText};
  std::size_t ticks = 0;
  for (std::size_t i = 0; i < log.Count(); ++i) {
    const TLogItem item = log.GetItem(i);
    if (item.Text.starts_with("tick ")) {
      ++ticks;
      EXPECT_TRUE(possible.contains(item.Color)) << item.Text << " " << item.Color;
    }
  }
  EXPECT_GT(ticks, 0U);
  ASSERT_EQ(Rows(), (std::vector<std::pair<std::string, bool>>{{"Ticks", true}}));

  Fake->YesNo = {false};
  Click("logline");
  std::thread([&] { log.AddLine(source.get(), "tick dropped"); }).join();
  Fake->YesNo = {true};
  Fake->Colors = {clBlue};
  Click("logline");
  Click("color");
  std::thread([&] { log.AddLine(source.get(), "tick last"); }).join();
  const TLogItem last = log.GetItem(log.Count() - 1);
  EXPECT_EQ(last.Text, "tick last");
  EXPECT_EQ(last.Color, clBlue);
  EXPECT_EQ(&GetRules().GetRule(0), &rule);
}

} // namespace
} // namespace ornavel
