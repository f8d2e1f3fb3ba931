#include "TestSupport.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

namespace fs = std::filesystem;

// Each layer's folders and the folders it may include from, as Layers.txt gives them.
std::map<std::string, std::set<std::string>> ReadLayers(const fs::path& file) {
  std::ifstream input(file);
  if (!input)
    throw std::runtime_error("cannot read " + file.string());
  std::map<std::string, std::set<std::string>> allowed;
  std::set<std::string> below;
  for (std::string line; std::getline(input, line);) {
    if (line.empty() || line.front() == '#')
      continue;
    std::istringstream words(line);
    std::vector<std::string> layer{std::istream_iterator<std::string>(words), {}};
    for (const std::string& folder : layer) {
      allowed[folder] = below;
      allowed[folder].insert(folder);
    }
    below.insert(layer.begin(), layer.end());
  }
  return allowed;
}

// The folder an #include line names before its first slash; empty for any other line.
std::string IncludedFolder(std::string_view line) {
  const auto skipSpaces = [&] {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
  };
  skipSpaces();
  if (!line.starts_with('#'))
    return {};
  line.remove_prefix(1);
  skipSpaces();
  if (!line.starts_with("include"))
    return {};
  line.remove_prefix(7);
  skipSpaces();
  if (!line.starts_with('"') && !line.starts_with('<'))
    return {};
  const std::string_view path = line.substr(1, line.find_first_of("\">", 1) - 1);
  const auto slash = path.find('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

// The program's single objects that a folder is given instead of fetching them.
const std::map<std::string, std::vector<std::string>> ForbiddenCalls{
    {"sources", {"GetLog", "GetConfig", "GetRules", "GetThreadManager"}}};

// The first call of a forbidden function on a line outside comments; empty for none.
std::string ForbiddenCall(std::string_view line, const std::vector<std::string>& functions) {
  line = line.substr(0, line.find("//"));
  for (const std::string& function : functions) {
    for (auto at = line.find(function + "("); at != std::string_view::npos;
         at = line.find(function + "(", at + 1)) {
      const char before = at == 0 ? ' ' : line[at - 1];
      if (!std::isalnum(static_cast<unsigned char>(before)) && before != '_' && before != ':')
        return function;
    }
  }
  return {};
}

// One line per include that crosses the layers the wrong way, per call of a single object the
// folder is to be given, and per folder with no layer.
std::vector<std::string> LayeringViolations(const fs::path& sourceRoot) {
  const auto allowed = ReadLayers(sourceRoot / "Layers.txt");
  std::vector<std::string> violations;
  for (const auto& entry : fs::recursive_directory_iterator(sourceRoot)) {
    if (!entry.is_regular_file() || entry.path().parent_path() == sourceRoot)
      continue;
    const fs::path relative = fs::relative(entry.path(), sourceRoot);
    const std::string folder = relative.begin()->string();
    const auto layer = allowed.find(folder);
    if (layer == allowed.end()) {
      violations.push_back(relative.string() + ": folder " + folder + " is in no layer");
      continue;
    }
    const auto forbidden = ForbiddenCalls.find(folder);
    std::ifstream input(entry.path());
    for (std::string line; std::getline(input, line);) {
      const std::string used = IncludedFolder(line);
      if (allowed.contains(used) && !layer->second.contains(used))
        violations.push_back(relative.string() + ": " + line + " (" + folder + " may not use " +
                             used + ")");
      if (forbidden == ForbiddenCalls.end())
        continue;
      if (const std::string call = ForbiddenCall(line, forbidden->second); !call.empty())
        violations.push_back(relative.string() + ": " + line + " (" + folder + " is given what " +
                             call + " answers)");
    }
  }
  return violations;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

TEST(Layering, EveryIncludeOfTheProgramPointsDownTheLayers) {
  const auto violations = LayeringViolations(fs::path(ORNAVEL_SOURCE_DIR) / "src");
  EXPECT_TRUE(violations.empty()) << Joined(violations);
}

TEST(Layering, BackEdgesAndFoldersWithoutALayerAreNamed) {
  test::TTemporaryFolder root;
  const fs::path src = root.Path();
  test::WriteFile(root.File("Layers.txt"), "# lowest first\ncore\nrules\nsources ui\n");
  for (const char* folder : {"core", "rules", "sources", "ui", "extra"})
    fs::create_directory(src / folder);
  test::WriteFile(root.File("core/LogUnit.cpp"),
                  "#include \"LogUnit.h\"\n#include <vector>\n#include \"rules/RulesUnit.h\"\n");
  test::WriteFile(root.File("rules/RulesUnit.cpp"), "#include \"core/LogUnit.h\"\n");
  test::WriteFile(root.File("ui/FormUnit.cpp"), "#include <sources/SourcesUnit.h>\n");
  test::WriteFile(root.File("sources/SourcesUnit.cpp"), "#include \"rules/RulesUnit.h\"\n");
  test::WriteFile(root.File("extra/ToolUnit.cpp"), "\n");
  auto violations = LayeringViolations(src);
  std::sort(violations.begin(), violations.end());
  const std::vector<std::string> expected{
      "core/LogUnit.cpp: #include \"rules/RulesUnit.h\" (core may not use rules)",
      "extra/ToolUnit.cpp: folder extra is in no layer",
      "ui/FormUnit.cpp: #include <sources/SourcesUnit.h> (ui may not use sources)"};
  EXPECT_EQ(violations, expected);
}

TEST(Layering, SourcesCallingForTheProgramsSingleObjectsAreNamed) {
  test::TTemporaryFolder root;
  test::WriteFile(root.File("Layers.txt"), "core\nsources\n");
  for (const char* folder : {"core", "sources"})
    fs::create_directory(fs::path(root.Path()) / folder);
  test::WriteFile(root.File("core/LogUnit.cpp"), "TLog& GetLog() { return log; }\n");
  test::WriteFile(root.File("sources/MonitorUnit.cpp"),
                  "Log().Add(x);\n// not GetLog()\nFConfig.MyGetConfig();\n"
                  "  x = GetRules( );\n");
  const std::vector<std::string> expected{
      "sources/MonitorUnit.cpp:   x = GetRules( ); (sources is given what GetRules answers)"};
  EXPECT_EQ(LayeringViolations(root.Path()), expected);
}

} // namespace
} // namespace ornavel
