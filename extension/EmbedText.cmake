# cmake -DIN=<file> -DOUT=<source> -P EmbedText.cmake
# Writes html::SnapshotScript() returning the file's text. The text goes
# into raw string pieces of at most 8000 bytes, under the length every
# compiler accepts for one literal.
file(READ ${IN} text)
string(FIND "${text}" ")quillory_js\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the raw string delimiter")
endif()
string(LENGTH "${text}" length)
set(body "")
set(pos 0)
while(pos LESS length)
  string(SUBSTRING "${text}" ${pos} 8000 piece)
  string(APPEND body "    R\"quillory_js(${piece})quillory_js\"\n")
  math(EXPR pos "${pos} + 8000")
endwhile()
file(WRITE ${OUT}.tmp "// Generated from ${IN}; do not edit.\n#include \"platform/html/SnapshotScript.h\"\n\nnamespace html {\n\nstd::string_view SnapshotScript()\n{\n    static constexpr char kText[] =\n${body}    \"\";\n    return { kText, sizeof kText - 1 };\n}\n\n} // namespace html\n")
file(RENAME ${OUT}.tmp ${OUT})
