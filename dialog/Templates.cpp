#include "dialog/Templates.h"

#include "dialog/Scramble.h"

namespace dialog {

std::optional<std::string> LoadTemplate(Template which)
{
    const StoredTemplate stored = StoredForm(which);
    return Unscramble(stored.text, stored.key);
}

} // namespace dialog
