#pragma once
// Strings across the scripting interface: every BSTR the object receives
// becomes narrow (UTF-8) text before use, every narrow text it returns a new
// BSTR. The narrow side is a C string, as the platform's conversion takes
// the BSTR as one: text after an embedded NUL is not seen, so a path or URL
// can never carry a NUL into file-system calls.
//
// Thread: any.
#include "platform/com/Bstr.h"
#include "platform/com/Utf.h"

#include <string>

inline std::string NarrowText(BSTR text)
{
    std::u16string_view view = BstrView(text);
    if (auto nul = view.find(u'\0'); nul != std::u16string_view::npos)
        view = view.substr(0, nul);
    return Utf16ToUtf8(view);
}

// A new BSTR the caller frees; null only when allocation fails.
inline BSTR WideText(std::string_view text)
{
    return Bstr(text).Detach();
}
