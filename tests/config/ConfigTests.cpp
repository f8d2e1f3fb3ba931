#include "TestSupport.h"
#include "config/ConfigUnit.h"
#include "config/XmlFileUnit.h"
#include "core/LogUnit.h"
#include "core/TextUnit.h"

#include <atomic>
#include <sys/stat.h>
#include <thread>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::CrLf;
using test::ReadFile;
using test::WriteFile;

class Config : public testing::Test {
protected:
  std::string FileName() const { return Folder.File("Config.xml"); }
  std::string FileText() const { return ReadFile(FileName()); }

  TMainConfig& OpenStore() {
    Store = std::make_unique<TMainConfig>();
    Store->Open(Folder.Path());
    return *Store;
  }
  TMainConfig& OpenStore(std::string_view fileText) {
    WriteFile(FileName(), fileText);
    return OpenStore();
  }
  void CloseStore() { Store.reset(); }

  ino_t FileIdentity() const {
    struct stat status {};
    ::stat(FileName().c_str(), &status);
    return status.st_ino;
  }

  std::vector<TLogItem> ReportsSince(std::size_t first) const {
    std::vector<TLogItem> reports;
    for (std::size_t i = first; i < GetLog().Count(); ++i)
      reports.push_back(GetLog().GetItem(i));
    return reports;
  }

  test::TTemporaryFolder Folder;
  std::unique_ptr<TMainConfig> Store;
};

const std::string Skeleton = CrLf({R"(<?xml version="1.0"?>)", "<Config/>"});

TEST_F(Config, MissingFileIsCreatedEmptyAndEveryKeyHasItsDefault) {
  TMainConfig& store = OpenStore();
  EXPECT_EQ(FileText(), Skeleton);
  EXPECT_EQ(store.DateStringFormat(), "yyyy-mm-dd hh:nn:ss");
  EXPECT_EQ(store.MonitorFilenames().Count(), 0u);
  EXPECT_FALSE(store.MonitorSyslog());
  EXPECT_FALSE(store.MonitorEventLog());
  EXPECT_FALSE(store.OutputDebugString());
  EXPECT_TRUE(store.IncludePeerIP());
  EXPECT_TRUE(store.IncludePID());
  EXPECT_EQ(store.SyslogPort(), 514);
  const ino_t created = FileIdentity();
  CloseStore(); // reads change nothing, so the file is not written again
  EXPECT_EQ(FileIdentity(), created);
  EXPECT_EQ(FileText(), Skeleton);
}

TEST_F(Config, FirstRunWritesTheFileLineByLine) {
  TMainConfig& store = OpenStore();
  store.MonitorFilenames().Add("C:\\Logs\\server.log");
  store.SetMonitorSyslog(true);
  store.SetMonitorEventLog(false);
  store.SetOutputDebugString(false);
  store.SetIncludePeerIP(true);
  store.SetIncludePID(true);
  store.Save();
  const std::string expected = CrLf({
      R"(<?xml version="1.0"?>)",
      "<Config>",
      "  <MonitorFilenames>",
      "    <Filename>C:\\Logs\\server.log</Filename>",
      "  </MonitorFilenames>",
      R"(  <MonitorSyslog value="True"/>)",
      R"(  <MonitorEventLog value="False"/>)",
      R"(  <OutputDebugString value="False"/>)",
      R"(  <IncludePeerIP value="True"/>)",
      R"(  <IncludePID value="True"/>)",
      "</Config>",
  });
  EXPECT_EQ(FileText(), expected);
  const ino_t saved = FileIdentity();
  CloseStore(); // saved already: not written again
  EXPECT_EQ(FileIdentity(), saved);

  // The next run reads it back, and saving without changes writes the same bytes.
  TMainConfig& again = OpenStore();
  EXPECT_EQ(again.MonitorFilenames().Items(), std::vector<std::string>{"C:\\Logs\\server.log"});
  EXPECT_TRUE(again.MonitorSyslog());
  again.Save();
  again.Save();
  EXPECT_EQ(FileText(), expected);
}

TEST_F(Config, ChangesAreWrittenAtCloseWhenNotSaved) {
  OpenStore().SetIncludePID(false);
  EXPECT_EQ(FileText(), Skeleton);
  CloseStore();
  EXPECT_EQ(FileText(), CrLf({R"(<?xml version="1.0"?>)", "<Config>",
                              R"(  <IncludePID value="False"/>)", "</Config>"}));
}

TEST_F(Config, ListWritingLaysOutItemsAndEmptiesTheElement) {
  TMainConfig& store = OpenStore();
  store.WriteValue("MonitorFilenames.Filename",
                   std::vector<std::string>{"/var/log/a", "/var/log/b"});
  store.Save();
  EXPECT_EQ(FileText(),
            CrLf({R"(<?xml version="1.0"?>)", "<Config>", "  <MonitorFilenames>",
                  "    <Filename>/var/log/a</Filename>", "    <Filename>/var/log/b</Filename>",
                  "  </MonitorFilenames>", "</Config>"}));
  store.WriteValue("MonitorFilenames.Filename", std::vector<std::string>{});
  EXPECT_EQ(store.ReadValue("MonitorFilenames.Filename", std::string("none")),
            TConfigValue(std::string("none")));
  store.Save();
  EXPECT_EQ(FileText(),
            CrLf({R"(<?xml version="1.0"?>)", "<Config>", "  <MonitorFilenames/>", "</Config>"}));
}

TEST_F(Config, ReadsFindTheFirstElementOfTheExactName) {
  TMainConfig& store =
      OpenStore(CrLf({R"(<?xml version="1.0"?>)", "<Config>", R"(  <monitorsyslog value="True"/>)",
                      R"(  <IncludePID value="False"/>)", R"(  <IncludePID value="True"/>)",
                      R"(  <DateStringFormat value=""/>)", "</Config>"}));
  EXPECT_FALSE(store.MonitorSyslog());     // letter case counts
  EXPECT_FALSE(store.IncludePID());        // the first of two
  EXPECT_EQ(store.DateStringFormat(), ""); // present but empty is not the default
  EXPECT_EQ(store.ReadValue("IncludePID.Anything", std::string()),
            TConfigValue(std::string("False")));
  store.SetMonitorSyslog(true); // a second element in the right case is appended
  store.SetIncludePID(true);    // the first of two is written
  store.Save();
  EXPECT_EQ(FileText(),
            CrLf({R"(<?xml version="1.0"?>)", "<Config>", R"(  <monitorsyslog value="True"/>)",
                  R"(  <IncludePID value="True"/>)", R"(  <IncludePID value="True"/>)",
                  R"(  <DateStringFormat value=""/>)", R"(  <MonitorSyslog value="True"/>)",
                  "</Config>"}));
}

TEST(XMLConfig, SearchByNodeNameFindsTheLastChildOfTheExactName) {
  const auto document = ParseXml(R"(<r><a n="1"/><A n="2"/><a n="3"/><!--a--></r>)");
  const pugi::xml_node root = document->document_element();
  EXPECT_STREQ(TXMLConfig::SearchByNodeName(root, "a").attribute("n").value(), "3");
  EXPECT_FALSE(TXMLConfig::SearchByNodeName(root, "b"));
}

TEST_F(Config, UnaddressedNodesSurviveASaveUnchanged) {
  const std::string original = CrLf({
      R"(<?xml version="1.0"?>)",
      "<!-- kept by hand -->",
      R"(<Settings owner="me">)",
      R"(  <Window left="10" top="20"><Note>free text &amp; more</Note></Window>)",
      "  <!-- my comment -->",
      R"(  <MonitorSyslog value="False" extra="yes"/>)",
      "</Settings>",
  });
  TMainConfig& store = OpenStore(original);
  store.SetMonitorSyslog(true);
  store.SetIncludePeerIP(false);
  store.Save();
  EXPECT_EQ(FileText(),
            CrLf({
                R"(<?xml version="1.0"?>)",
                "<!-- kept by hand -->",
                R"(<Settings owner="me">)",
                R"(  <Window left="10" top="20"><Note>free text &amp; more</Note></Window>)",
                "  <!-- my comment -->",
                R"(  <MonitorSyslog value="True" extra="yes"/>)",
                R"(  <IncludePeerIP value="False"/>)",
                "</Settings>",
            }));
}

TEST_F(Config, BooleansReadTheWordsAndNumbers) {
  TMainConfig& store = OpenStore(
      CrLf({R"(<?xml version="1.0"?>)", "<Config>", R"(<MonitorSyslog value="true"/>)",
            R"(<MonitorEventLog value="On"/>)", R"(<OutputDebugString value="0"/>)",
            R"(<IncludePeerIP value="NO"/>)", R"(<IncludePID value="yes"/>)", "</Config>"}));
  EXPECT_TRUE(store.MonitorSyslog());
  EXPECT_TRUE(store.MonitorEventLog());
  EXPECT_FALSE(store.OutputDebugString());
  EXPECT_FALSE(store.IncludePeerIP());
  EXPECT_TRUE(store.IncludePID());
}

// A hand-edited value that cannot be used gives way to the default, and says so once, naming the
// file, the key and the value: never at every read, such as every syslog datagram.
TEST_F(Config, UnusableValuesAreReportedOnceAndTheDefaultIsUsed) {
  TMainConfig& store = OpenStore(
      CrLf({R"(<?xml version="1.0"?>)", "<Config>", R"(<IncludePeerIP value="maybe"/>)",
            R"(<MonitorSyslog><Item>x</Item></MonitorSyslog>)", R"(<SyslogPort value="5l4"/>)",
            R"(<DateStringFormat><Item>x</Item></DateStringFormat>)",
            R"(<JournalDirectory><Item>x</Item></JournalDirectory>)", "</Config>"}));
  const std::size_t before = GetLog().Count();
  for (int read = 0; read < 3; ++read) {
    EXPECT_TRUE(store.IncludePeerIP());
    EXPECT_FALSE(store.MonitorSyslog());
    EXPECT_EQ(store.SyslogPort(), 514);
    EXPECT_EQ(store.DisplayDateFormat(), "yyyy-mm-dd hh:nn:ss");
    EXPECT_EQ(store.JournalDirectory(), "");
  }
  store.WriteValue("SyslogPort", std::string("70000"));
  EXPECT_EQ(store.SyslogPort(), 514);
  std::vector<std::string> texts;
  for (const TLogItem& report : ReportsSince(before)) {
    EXPECT_EQ(report.Level, TLogLevel::Warning);
    EXPECT_EQ(report.Source, nullptr);
    texts.push_back(report.Text);
  }
  const std::string file = FileName() + ": ";
  const std::vector<std::string> expected{
      file + "IncludePeerIP=\"maybe\" is not a boolean (True, False, yes, no, on, off, 1, 0); "
             "the default True is used",
      file + "MonitorSyslog holds elements, not a value; the default False is used",
      file + "SyslogPort=\"5l4\" is not a port number (1 to 65535); the default 514 is used",
      file +
          "DateStringFormat holds elements, not a value; the default yyyy-mm-dd hh:nn:ss is used",
      file + "JournalDirectory holds elements, not a value; the default (the machine's journals) "
             "is used",
      file + "SyslogPort=\"70000\" is not a port number (1 to 65535); the default 514 is used"};
  EXPECT_EQ(texts, expected);
  EXPECT_THROW(store.DateStringFormat(), EConvertError); // the value as it stands in the file
}

// MaxLines: a number of at least 1000, or the default of a million with one warning; so for
// InitialLines, from 0.
TEST_F(Config, MaxLinesIsReadByHandOrGivesWayToItsDefault) {
  const std::vector<std::pair<std::string, std::size_t>> cases{
      {"", 1'000'000},    {"1000", 1000},    {"250000", 250'000},
      {"999", 1'000'000}, {"-5", 1'000'000}, {"lots", 1'000'000}};
  for (const auto& [value, expected] : cases) {
    const std::string key = value.empty() ? "" : R"(<MaxLines value=")" + value + R"("/>)";
    TMainConfig& store =
        OpenStore(CrLf({R"(<?xml version="1.0"?>)", "<Config>", key, "</Config>"}));
    const std::size_t before = GetLog().Count();
    EXPECT_EQ(store.MaxLines(), expected) << value;
    EXPECT_EQ(store.MaxLines(), expected) << value;
    const auto reports = ReportsSince(before);
    if (expected == 1'000'000 && !value.empty()) {
      ASSERT_EQ(reports.size(), 1u) << value;
      EXPECT_EQ(reports[0].Text,
                FileName() + ": MaxLines=\"" + value +
                    "\" is not a number of lines (1000 or more); the default 1000000 is used");
    } else {
      EXPECT_TRUE(reports.empty()) << value;
    }
  }
  TMainConfig& store = OpenStore(
      CrLf({R"(<?xml version="1.0"?>)", "<Config>", R"(<InitialLines value="-1"/>)", "</Config>"}));
  const std::size_t before = GetLog().Count();
  EXPECT_EQ(store.InitialLines(), 0u);
  ASSERT_EQ(ReportsSince(before).size(), 1u);
  EXPECT_EQ(ReportsSince(before)[0].Text,
            FileName() + ": InitialLines=\"-1\" is not a number of lines (0 or more); the "
                         "default 0 is used");
}

TEST_F(Config, FileNamesAreStoredTrimmedAndKeptAsAddedInMemory) {
  TMainConfig& store = OpenStore();
  TStringList& files = store.MonitorFilenames();
  EXPECT_EQ(&store.MonitorFilenames(), &files);
  files.Add("/var/log/syslog ");
  files.Add("/var/log/syslog ");
  EXPECT_EQ(files[0], "/var/log/syslog ");
  EXPECT_EQ(store.ReadValue("MonitorFilenames.Filename", {}),
            TConfigValue(std::vector<std::string>{"/var/log/syslog", "/var/log/syslog"}));
  files.Delete(1);
  files.Delete(0);
  EXPECT_THROW(files.Delete(0), std::out_of_range);
  store.Save();
  EXPECT_EQ(FileText(),
            CrLf({R"(<?xml version="1.0"?>)", "<Config>", "  <MonitorFilenames/>", "</Config>"}));
}

TEST_F(Config, LoadedFileNamesAreTrimmedAndEmptyOnesSkipped) {
  TMainConfig& store =
      OpenStore(CrLf({R"(<?xml version="1.0"?>)", "<Config>", "<MonitorFilenames>",
                      "<Filename>  /a b/c.log\t</Filename>", "<Filename> </Filename>",
                      "<!-- note --><Other>x</Other>", "<Filename>/d</Filename>",
                      "</MonitorFilenames>", "</Config>"}));
  EXPECT_EQ(store.MonitorFilenames().Items(), (std::vector<std::string>{"/a b/c.log", "/d"}));
}

TEST_F(Config, SyslogPortIsReadFromTheHandEditedKey) {
  TMainConfig& store = OpenStore(
      CrLf({R"(<?xml version="1.0"?>)", "<Config>", R"(<SyslogPort value="5514"/>)", "</Config>"}));
  EXPECT_EQ(store.SyslogPort(), 5514);
}

TEST_F(Config, JournalDirectoryIsReadTrimmedFromTheHandEditedKey) {
  EXPECT_EQ(OpenStore().JournalDirectory(), "");
  TMainConfig& store =
      OpenStore(CrLf({R"(<?xml version="1.0"?>)", "<Config>",
                      "<JournalDirectory value=\" /srv/journal\t\"/>", "</Config>"}));
  EXPECT_EQ(store.JournalDirectory(), "/srv/journal");
}

TEST_F(Config, UnreadableFileIsReportedAndNeverOverwritten) {
  const std::string broken = CrLf(
      {R"(<?xml version="1.0"?>)", "<Config>", R"(  <MonitorSyslog value="True">)", "</Config>"});
  const std::size_t before = GetLog().Count();
  TMainConfig& store = OpenStore(broken);
  const auto reports = ReportsSince(before);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Level, TLogLevel::LoadFailure);
  EXPECT_EQ(reports[0].Source, nullptr);
  EXPECT_EQ(reports[0].Text, FileName() + ", line 4: Start-end tags mismatch: \"</Config>\"");
  EXPECT_FALSE(store.HasDocument());
  EXPECT_FALSE(store.MonitorSyslog()); // the default
  store.SetMonitorSyslog(true);        // dropped
  EXPECT_FALSE(store.MonitorSyslog());
  store.MonitorFilenames().Add("/x");
  store.Save();
  CloseStore();
  EXPECT_EQ(FileText(), broken);
}

TEST_F(Config, EmptyFileIsAParseError) {
  const std::size_t before = GetLog().Count();
  OpenStore("");
  const auto reports = ReportsSince(before);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Text, FileName() + ", line 1: No document element found");
}

TEST_F(Config, FailedSaveRaisesAndLeavesTheOldFileIntact) {
  TMainConfig& store = OpenStore();
  store.SetMonitorSyslog(true);
  {
    test::TFullDisk full;
    EXPECT_THROW(store.Save(), std::runtime_error);
  }
  EXPECT_EQ(FileText(), Skeleton);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Path()),
                          std::filesystem::directory_iterator()),
            1); // no temporary file left behind
  store.Save(); // the change is still there to be saved
  EXPECT_NE(FileText().find(R"(<MonitorSyslog value="True"/>)"), std::string::npos);
}

TEST_F(Config, LinkedFileStaysLinked) {
  test::TTemporaryFolder elsewhere;
  WriteFile(elsewhere.File("real.xml"), Skeleton);
  std::filesystem::create_symlink(elsewhere.File("real.xml"), FileName());
  OpenStore().SetIncludePID(false);
  Store->Save();
  EXPECT_TRUE(std::filesystem::is_symlink(FileName()));
  EXPECT_NE(ReadFile(elsewhere.File("real.xml")).find("IncludePID"), std::string::npos);
}

// Source threads read the per-line settings while the user interface writes and saves.
TEST_F(Config, ReadsDuringWritesAreSafe) {
  TMainConfig& store = OpenStore();
  std::atomic<bool> stop{false};
  std::atomic<long> reads{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        store.IncludePeerIP();
        store.IncludePID();
        store.ReadValue("MonitorFilenames.Filename", {});
        ++reads;
      }
    });
  }
  for (int round = 0; round < 200; ++round) {
    const long seen = reads;
    while (reads < seen + 2)
      std::this_thread::yield();
    store.SetIncludePeerIP(round % 2 == 0);
    store.SetIncludePID(round % 3 == 0);
    store.MonitorFilenames().Add("/var/log/" + std::to_string(round));
    if (round % 50 == 0)
      store.Save();
  }
  stop = true;
  for (auto& reader : readers)
    reader.join();
  EXPECT_EQ(store.MonitorFilenames().Count(), 200u);
}

} // namespace
} // namespace ornavel
