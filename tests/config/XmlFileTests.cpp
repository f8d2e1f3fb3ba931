#include "TestSupport.h"
#include "config/XmlFileUnit.h"

#include <gtest/gtest.h>

namespace ornavel {
namespace {

std::string ParseFailure(std::string_view text) {
  try {
    ParseXml(text);
  } catch (const EXmlFileError& error) {
    return error.what();
  }
  return "parsed";
}

TEST(XmlFile, ParseErrorNamesTheLineAndQuotesItsStart) {
  EXPECT_EQ(ParseFailure("<a>\r\n<b>\r\n</a>"), "Start-end tags mismatch\r\nLine: 3\r\n</a>");
  const std::string longLine = "<a><b attr=\"" + std::string(60, 'x') + "></a>";
  const std::string message = ParseFailure("<?xml version=\"1.0\"?>\n" + longLine + "\n");
  EXPECT_EQ(message.substr(message.find("Line")), "Line: 2\r\n" + longLine.substr(0, 40));
  EXPECT_EQ(ParseFailure("   "), "No document element found\r\nLine: 1\r\n   ");
}

TEST(XmlFile, KeepsTheBytesItReadsExceptWhereChanged) {
  const std::string text = test::CrLf({R"(<?xml version="1.0" encoding="UTF-8"?>)",
                                       "<!DOCTYPE r>", "<r>", "  <a b=\"1\"> x </a>",
                                       "\t<?pi data?><![CDATA[<raw>]]>", "</r>", "<!-- after -->"});
  EXPECT_EQ(SerializeXml(*ParseXml(text)), text);
}

TEST(XmlFile, AppendedElementsStandOnLinesOfTheirOwn) {
  auto document = ParseXml("<r/>");
  pugi::xml_node list = AppendLaidOut(document->document_element(), "List");
  AppendLaidOut(list, "Item").text().set("1");
  AppendCopyLaidOut(list, list.first_element_by_path("Item"));
  AppendLaidOut(document->document_element(), "Flag");
  EXPECT_EQ(SerializeXml(*document), test::CrLf({"<r>", "  <List>", "    <Item>1</Item>",
                                                  "    <Item>1</Item>", "  </List>", "  <Flag/>",
                                                  "</r>"}));
}

TEST(XmlFile, SkeletonIsMadeOnlyWhenNoFileIsThere) {
  test::TTemporaryFolder folder;
  const std::string path = folder.File("Rules.xml");
  CreateXmlSkeletonIfMissing(path, "Rules");
  EXPECT_EQ(test::ReadFile(path), test::CrLf({R"(<?xml version="1.0"?>)", "<Rules/>"}));
  test::WriteFile(path, "mine");
  CreateXmlSkeletonIfMissing(path, "Rules");
  EXPECT_EQ(test::ReadFile(path), "mine");
}

} // namespace
} // namespace ornavel
