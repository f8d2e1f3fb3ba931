#include "XmlFileUnit.h"

#include "core/FileDescriptorUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace ornavel {
namespace {

constexpr unsigned ParseOptions =
    (pugi::parse_full | pugi::parse_ws_pcdata) & ~static_cast<unsigned>(pugi::parse_eol);
constexpr std::size_t QuotedLineLength = 40;

[[noreturn]] void RaiseSystemError(const std::string& what, const std::string& path) {
  throw EXmlFileError(Format("%s %s: %s", what, path, std::strerror(errno)));
}

// One row, for the log: the file (when known) and the line, the parser's reason, and the start of
// the offending line.
std::string ParseErrorMessage(std::string_view text, const pugi::xml_parse_result& result,
                              std::string_view fileName) {
  const auto offset =
      std::clamp<std::ptrdiff_t>(result.offset, 0, static_cast<std::ptrdiff_t>(text.size()));
  const std::string_view before = text.substr(0, static_cast<std::size_t>(offset));
  // The offending line is the one holding the error's offset; a line feed ends its own line.
  const auto lastBreak = before.rfind('\n');
  const std::size_t start = lastBreak == std::string_view::npos ? 0 : lastBreak + 1;
  const auto lineNumber = std::ranges::count(before, '\n') + 1;
  std::string_view line = text.substr(start);
  line = line.substr(0, std::min(line.find_first_of("\r\n"), QuotedLineLength));
  std::string message = fileName.empty()
                            ? Format("Line %d: %s", lineNumber, result.description())
                            : Format("%s, line %d: %s", fileName, lineNumber, result.description());
  return line.empty() ? message : Format("%s: \"%s\"", message, line);
}

// A file's bytes in memory from the parser's own allocator, so that the parser can take them
// over instead of copying them: a Rules.xml of many rules is large.
class TParserBuffer {
public:
  TParserBuffer() = default;
  ~TParserBuffer() { Free(); }
  TParserBuffer(const TParserBuffer&) = delete;
  TParserBuffer& operator=(const TParserBuffer&) = delete;

  std::string_view View() const { return {FData, FSize}; }
  // Room for capacity bytes in all, the filled ones kept.
  void Reserve(std::size_t capacity) {
    if (capacity <= FCapacity)
      return;
    auto* data = static_cast<char*>(pugi::get_memory_allocation_function()(capacity));
    if (data == nullptr)
      throw std::bad_alloc();
    if (FSize > 0)
      std::memcpy(data, FData, FSize);
    Free();
    FData = data;
    FCapacity = capacity;
  }
  char* End() { return FData + FSize; }
  std::size_t Room() const { return FCapacity - FSize; }
  void Filled(std::size_t count) { FSize += count; }
  // Hands the bytes over to whoever frees them with the parser's allocator.
  char* Release() {
    FCapacity = FSize = 0;
    return std::exchange(FData, nullptr);
  }

private:
  void Free() {
    if (FData != nullptr)
      pugi::get_memory_deallocation_function()(FData);
  }

  char* FData = nullptr;
  std::size_t FSize = 0;
  std::size_t FCapacity = 0;
};

void ReadWholeFile(const std::string& path, TParserBuffer& text) {
  TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.Valid())
    RaiseSystemError("Cannot open", path);
  // In one piece where the size is known.
  struct stat status {};
  const auto expected = ::fstat(file.Get(), &status) == 0
                            ? static_cast<std::size_t>(std::max<off_t>(status.st_size, 0))
                            : 0;
  text.Reserve(expected + 1);
  for (;;) {
    if (text.Room() == 0)
      text.Reserve(std::max<std::size_t>(2 * text.View().size(), 65536));
    const ssize_t count = ::read(file.Get(), text.End(), text.Room());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      RaiseSystemError("Cannot read", path);
    if (count == 0)
      return;
    text.Filled(static_cast<std::size_t>(count));
  }
}

void WriteAll(int descriptor, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t count = ::write(descriptor, text.data(), text.size());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      RaiseSystemError("Cannot write", path);
    text.remove_prefix(static_cast<std::size_t>(count));
  }
}

// Removes the temporary file unless it has been renamed into place.
class TTemporaryFile {
public:
  explicit TTemporaryFile(const std::string& target) : FName(target + ".XXXXXX") {
    FDescriptor = TFileDescriptor(::mkstemp(FName.data()));
    if (!FDescriptor.Valid())
      RaiseSystemError("Cannot create a temporary file beside", target);
  }
  ~TTemporaryFile() {
    if (!FRenamed)
      ::unlink(FName.c_str());
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  int Descriptor() const { return FDescriptor.Get(); }
  int Close() { return FDescriptor.Close(); }
  void RenameTo(const std::string& target) {
    if (::rename(FName.c_str(), target.c_str()) != 0)
      RaiseSystemError("Cannot replace", target);
    FRenamed = true;
  }

private:
  std::string FName;
  TFileDescriptor FDescriptor;
  bool FRenamed = false;
};

// Where the bytes go: the file a link points to, so that a linked file stays linked.
std::string WriteTarget(const std::string& path) {
  std::error_code error;
  const auto resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

void SyncFolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  TFileDescriptor directory(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Valid())
    ::fsync(directory.Get()); // the rename is durable once the folder is; the data already is
}

template <class F>
pugi::xml_node LaidOut(pugi::xml_node parent, F&& append) {
  int level = 0;
  for (pugi::xml_node ancestor = parent.parent(); ancestor.type() == pugi::node_element;
       ancestor = ancestor.parent())
    ++level;
  const std::string closing = "\r\n" + std::string(2 * static_cast<std::size_t>(level), ' ');
  if (!parent.first_child())
    parent.append_child(pugi::node_pcdata).set_value(closing.c_str());
  parent.append_child(pugi::node_pcdata).set_value("  ");
  pugi::xml_node element = append();
  parent.append_child(pugi::node_pcdata).set_value(closing.c_str());
  return element;
}

} // namespace

std::unique_ptr<pugi::xml_document> ParseXml(std::string_view text, std::string_view fileName) {
  auto document = std::make_unique<pugi::xml_document>();
  const auto result =
      document->load_buffer(text.data(), text.size(), ParseOptions, pugi::encoding_utf8);
  if (!result)
    throw EXmlFileError(ParseErrorMessage(text, result, fileName));
  return document;
}

std::unique_ptr<pugi::xml_document> LoadXmlFile(const std::string& path) {
  auto document = std::make_unique<pugi::xml_document>();
  {
    TParserBuffer text;
    ReadWholeFile(path, text);
    const std::size_t size = text.View().size();
    if (document->load_buffer_inplace_own(text.Release(), size, ParseOptions, pugi::encoding_utf8))
      return document;
  }
  // Parsing in place changed the bytes: the message comes from a copy of the file read again.
  TParserBuffer text;
  ReadWholeFile(path, text);
  return ParseXml(text.View(), path);
}

std::string SerializeXml(const pugi::xml_document& document) {
  std::ostringstream text;
  for (const pugi::xml_node node : document.children()) {
    node.print(text, "", pugi::format_raw, pugi::encoding_utf8);
    text << "\r\n";
  }
  return std::move(text).str();
}

void SaveXmlFile(const pugi::xml_document& document, const std::string& path) {
  SaveFileAtomically(path, SerializeXml(document), 0600);
}

void SaveFileAtomically(const std::string& path, std::string_view text, unsigned newFileMode) {
  const std::string target = WriteTarget(path);
  TTemporaryFile temporary(target);
  struct stat existing {};
  const mode_t mode =
      ::stat(target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : newFileMode;
  if (::fchmod(temporary.Descriptor(), mode) != 0)
    RaiseSystemError("Cannot write", path);
  WriteAll(temporary.Descriptor(), text, path);
  if (::fsync(temporary.Descriptor()) != 0 || temporary.Close() != 0)
    RaiseSystemError("Cannot write", path);
  temporary.RenameTo(target);
  SyncFolderOf(target);
}

void SaveXmlFileAtExit(const pugi::xml_document& document, const std::string& path) noexcept {
  try {
    SaveXmlFile(document, path);
  } catch (const std::exception& failure) {
    std::cerr << "Ornavel: " << path << " could not be saved: " << failure.what() << std::endl;
  }
}

void CreateXmlSkeletonIfMissing(const std::string& path, const char* rootName) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 || errno != ENOENT)
    return; // there, or for the open to report why not
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  document.append_child(rootName);
  SaveXmlFile(document, path);
}

pugi::xml_node AppendLaidOut(pugi::xml_node parent, const char* name) {
  return LaidOut(parent, [&] { return parent.append_child(name); });
}

pugi::xml_node AppendCopyLaidOut(pugi::xml_node parent, pugi::xml_node source) {
  return LaidOut(parent, [&] { return parent.append_copy(source); });
}

void RemoveChildren(pugi::xml_node node) {
  while (pugi::xml_node child = node.first_child())
    node.remove_child(child);
}

namespace {

std::atomic<int> gLoading{0};

class TLoading {
public:
  TLoading() { ++gLoading; }
  ~TLoading() { --gLoading; }
  TLoading(const TLoading&) = delete;
  TLoading& operator=(const TLoading&) = delete;
};

} // namespace

bool LoadingFiles() {
  return gLoading.load() > 0;
}

void ReportingLoadFailures(const std::function<void()>& open) {
  try {
    const TLoading loading;
    open();
  } catch (const std::exception& failure) {
    try {
      GetLog().AddFailure(TLogLevel::LoadFailure, failure.what());
    } catch (...) {
      std::cerr << "Ornavel: " << failure.what() << std::endl;
    }
  }
}

} // namespace ornavel
