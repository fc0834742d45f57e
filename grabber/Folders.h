#pragma once
// The two folders other parts of the grabber look in: the module folder
// (where the library file lies; it holds the debug record and is the first
// place searched for the language file) and the per-user data folder (the
// second place).
//
// Thread: any.
#include <string>

// Folder of the file that holds this code (libqvtovanix.so when loaded as
// the module, the program itself when linked statically), without a
// trailing '/'. QUILLORY_MODULE_DIR overrides it, for tests that must not
// write next to the build output. Empty when it cannot be found.
[[nodiscard]] std::string ModuleFolder();

// XDG_DATA_HOME (else ~/.local/share) + "/Danwell/Tovanix". Not created.
[[nodiscard]] std::string UserDataFolder();
