#pragma once
// The debug record of grabs ("debuginfo.xml" in the module folder), written
// by grabber objects whose DebugMode setting is on:
//
//   <?xml version='1.0'?><dinfo><session><DocURL>...</DocURL><Started>ok</Started>...</session>...</dinfo>
//
// Each grab run opens a session; records go into the current session; the
// end of a run that showed the dialog saves the document and drops it, so a
// run that stopped early leaves its session to be saved with the next one.
//
// Thread: any. Each thread keeps its own document, so grabs running on
// different threads never put records into each other's sessions or drop a
// document another thread is still writing; saving the file is serialised
// across threads and replaces it atomically, so concurrent saves cannot
// leave a torn or interleaved file.
#include <optional>
#include <string>
#include <string_view>

namespace debuginfo {

// Makes a new session current, creating the document (declaration, root
// "dinfo") when this thread holds none.
void OpenDebugSession();
// Appends <name>text</name> to the current session; does nothing without
// one. Names that are not legal XML names are dropped.
void WriteDebugRecord(std::string_view name, std::string_view text);
// Writes the document to the module folder's "debuginfo.xml", replacing
// any earlier file, then drops it. Does nothing without a document; a
// failed write is ignored.
void SaveDebugInfo();

// The path SaveDebugInfo writes to; empty when the module folder is unknown.
std::string DebugInfoPath();
// This thread's document as text, when it holds one (for diagnostics).
std::optional<std::string> CurrentDebugXml();

} // namespace debuginfo
