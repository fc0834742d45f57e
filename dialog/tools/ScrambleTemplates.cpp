// Build tool: writes the C++ source holding the dialog's templates in their
// stored (scrambled) form.
//
//   quillory_scramble_templates OUT.cpp LIST.xsl:KEY SCRIPT.html:KEY PAGE.xsl:KEY
//
// KEY is the template's one-byte key (decimal or 0x hex). The three inputs
// are, in this order, the list stylesheet, the dialog script and the page
// stylesheet. The output is replaced only when its content changes, so an
// unchanged template does not rebuild the library.
#include "dialog/Scramble.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

bool ReadFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return static_cast<bool>(in) || in.eof();
}

struct Input {
    std::string path;
    unsigned key = 0;
};

bool ParseInput(const std::string& arg, Input& input)
{
    const auto colon = arg.rfind(':');
    if (colon == std::string::npos)
        return false;
    input.path = arg.substr(0, colon);
    char* end = nullptr;
    const std::string keyText = arg.substr(colon + 1);
    input.key = static_cast<unsigned>(std::strtoul(keyText.c_str(), &end, 0));
    return !keyText.empty() && end && *end == '\0' && input.key <= 0xFF;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::cerr << "usage: " << argv[0] << " OUT.cpp LIST.xsl:KEY SCRIPT.html:KEY PAGE.xsl:KEY\n";
        return 2;
    }
    static const char* const kNames[] = { "ListStylesheet", "DialogScript", "PageStylesheet" };
    std::ostringstream code;
    code << "// Generated at build time by dialog/tools/ScrambleTemplates.cpp from\n"
            "// dialog/templates/; edit those, not this file.\n"
            "#include \"dialog/Templates.h\"\n\n"
            "namespace dialog {\n\nnamespace {\n\n";
    unsigned keys[3] = {};
    for (int i = 0; i < 3; ++i) {
        Input input;
        std::string text;
        if (!ParseInput(argv[i + 2], input) || !ReadFile(input.path, text)) {
            std::cerr << argv[0] << ": cannot read " << argv[i + 2] << "\n";
            return 1;
        }
        if (text.find('\0') != std::string::npos) {
            std::cerr << argv[0] << ": " << input.path << " holds a zero byte\n";
            return 1;
        }
        keys[i] = input.key;
        code << "// " << input.path.substr(input.path.find_last_of('/') + 1) << ", " << text.size() << " bytes\n"
             << "constexpr std::string_view k" << kNames[i] << " = R\"b64(\n"
             << dialog::Scramble(text, static_cast<std::uint8_t>(input.key)) << "\n)b64\";\n\n";
    }
    code << "} // namespace\n\n"
            "StoredTemplate StoredForm(Template which)\n{\n"
            "    switch (which) {\n";
    for (int i = 0; i < 3; ++i)
        code << "    case Template::" << kNames[i] << ":\n        return { " << keys[i] << ", k" << kNames[i] << " };\n";
    code << "    }\n    return {};\n}\n\n} // namespace dialog\n";

    const std::string out = argv[1];
    std::string old;
    if (ReadFile(out, old) && old == code.str())
        return 0;
    const std::string tmp = out + ".tmp";
    {
        std::ofstream file(tmp, std::ios::binary | std::ios::trunc);
        file << code.str();
        if (!file.flush()) {
            std::cerr << argv[0] << ": cannot write " << tmp << "\n";
            return 1;
        }
    }
    if (std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::cerr << argv[0] << ": cannot replace " << out << "\n";
        return 1;
    }
    return 0;
}
