#pragma once

#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ornavel {

// A file that could not be read or parsed; for a parse error the message names the file and the
// line and gives the parser's reason and the start of the offending line, all on one line.
class EXmlFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads and parses a whole file, keeping every node: declaration, comments, processing
// instructions, and white-space text with its line-break bytes, so that a file written back
// keeps the layout it was read with.
std::unique_ptr<pugi::xml_document> LoadXmlFile(const std::string& path);
std::unique_ptr<pugi::xml_document> ParseXml(std::string_view text, std::string_view fileName = {});

// The document as written to disk: each top-level node on a line of its own, lines ended by
// CR LF, nodes as they stand (no indentation of its own), UTF-8.
std::string SerializeXml(const pugi::xml_document& document);

// Replaces the file at path (or the file a link there points to) with the document, through a
// temporary file in the same folder that is flushed to disk and renamed over it: a failure leaves
// the old file intact, and raises.
void SaveXmlFile(const pugi::xml_document& document, const std::string& path);

// Replaces the file at path (or the file a link there points to) with bytes, the same way. A new
// file gets newFileMode; an existing one keeps its mode.
void SaveFileAtomically(const std::string& path, std::string_view bytes, unsigned newFileMode);

// The write at program end, when the log has gone: a failure goes to standard error.
void SaveXmlFileAtExit(const pugi::xml_document& document, const std::string& path) noexcept;

// When no file is at path, writes one holding only the declaration (version 1.0) and an empty
// root element.
void CreateXmlSkeletonIfMissing(const std::string& path, const char* rootName);

// Appends an element (a new one, or a copy of source) to parent, laid out on a line of its own:
// a line break and the parent's indentation before the first child, two more spaces before each
// element, a line break and the parent's indentation after it.
pugi::xml_node AppendLaidOut(pugi::xml_node parent, const char* name);
pugi::xml_node AppendCopyLaidOut(pugi::xml_node parent, pugi::xml_node source);

void RemoveChildren(pugi::xml_node node);

// Runs open, posting its failure to the log at level LoadFailure with no source, as the loaders
// of both files report; the program goes on without what could not be read.
void ReportingLoadFailures(const std::function<void()>& open);
// Whether a loader is reading its file now, from any thread: a large file, or one on a slow
// mount, may take long, and nothing can stop the reading in order.
bool LoadingFiles();

} // namespace ornavel
