#pragma once
// The module's own resources, held as code: the grab dialog's shell page
// (HTML 215), the dialog pictures (GIF 223, 224, 226, 227) and the product
// icons (201 hot, 202 normal). Pages address them as "res://<module>/<id>"
// (HTML by default) or "res://<module>/<type>/<id>"; the UI server serves
// them under its own path.
//
// Thread: any (the pictures are drawn once, on first use).
#include <optional>
#include <string>
#include <string_view>

namespace resources {

// Windows resource type numbers, for addresses that give a type by number.
inline constexpr int kTypeIcon = 3;
inline constexpr int kTypeGroupIcon = 14;
inline constexpr int kTypeHtml = 23;

inline constexpr int kShellPage = 215;
inline constexpr int kLeftCornerImage = 223;
inline constexpr int kRightCornerImage = 224;
inline constexpr int kOkImage = 226;
inline constexpr int kFailImage = 227;
inline constexpr int kHotIcon = 201;
inline constexpr int kIcon = 202;

struct Resource {
    std::string_view type;     // "HTML", "GIF" or "ICON"
    int id = 0;
    std::string_view mimeType; // for serving
    std::string_view bytes;    // valid for the process's lifetime
};

// The resource of `type` (a name in any letter case, "#23" or "23") and
// `id`; nothing when the module has no such resource.
[[nodiscard]] std::optional<Resource> FindResource(std::string_view type, int id);

// The canonical type name for a type as an address gives it ("23" and
// "#23" are "HTML", 3 and 14 "ICON"); empty when unknown.
[[nodiscard]] std::string NormalizeType(std::string_view type);

} // namespace resources
