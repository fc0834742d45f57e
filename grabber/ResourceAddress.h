#pragma once
// Addresses through which the dialog's page loads the module's resources
// (its pictures). By default they are "res://<module file>/<type>/<id>",
// the form a browser hosting the module resolves itself; a host that
// serves the resources in another way (the loopback UI server) installs
// its own mapping for as long as it serves them.
//
// Thread: any. The mapping is called on the grabber object's thread while
// it builds a dialog body; installing it from another thread is safe.
#include <functional>
#include <string>
#include <string_view>

using ResourceAddressMapper = std::function<std::string(std::string_view type, int id)>;

// The page's address of resource `id` of `type` ("GIF"); empty when there
// is none (no module file name, or the mapper has none).
[[nodiscard]] std::string ResourceAddressFor(std::string_view type, int id);

// Replaces the mapping; an empty function restores the default.
void SetResourceAddressMapper(ResourceAddressMapper mapper);

// The default form for a module file: "res://<module file>/<type>/<id>";
// empty for an empty file name.
[[nodiscard]] std::string ModuleResourceAddress(const std::string& moduleFile, std::string_view type, int id);
