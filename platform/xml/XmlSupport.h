#pragma once
// Internals shared by the platform/xml sources; not for other folders.
#include <string>
#include <string_view>

struct _xmlNode;
struct _xmlDoc;

namespace xml::detail {

// Once per process: initialise libxml2/libxslt, refuse every external
// resource load (entities, DTDs, XSLT document()/include/import) and keep
// library diagnostics off stderr.
void EnsureInitialised();
// Swallows library diagnostics; failures are reported through results.
void SilentError(void* ctx, const char* msg, ...);

// A legal XML 1.0 Name (colons allowed), without NUL bytes.
bool IsLegalName(std::string_view name);

// Valid UTF-8 made only of characters XML 1.0 can carry (Char production).
bool IsXmlText(std::string_view text);

// The text with invalid UTF-8 and characters XML cannot carry replaced by
// U+FFFD.
std::string ToXmlText(std::string_view text);

// Nodes created outside the tree belong to the document that made them;
// they are freed with it unless they ended up in the tree.
void AttachState(_xmlDoc* doc);
void TrackLoose(_xmlNode* node);
void FreeDocument(_xmlDoc* doc);

// Serialises one node without declaration, indentation or re-encoding.
std::string DumpNode(_xmlNode* node);

} // namespace xml::detail
