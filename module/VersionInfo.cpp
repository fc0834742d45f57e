#include "module/VersionInfo.h"

// Product and file version 3.6.0.0. Declared extern first: a const object
// would otherwise have internal linkage and never reach the symbol table.
extern "C" __attribute__((visibility("default"))) const QVVersionInfo QVTovanixVersionInfo;

__attribute__((used, section("qvversion"))) const QVVersionInfo QVTovanixVersionInfo = {
    { 'Q', 'V', 'V', 'E', 'R', 'S', '1', '\0' },
    (3u << 16) | 6u,
    (0u << 16) | 0u,
    (3u << 16) | 6u,
    (0u << 16) | 0u,
    0x0409,
    1200,
    "Extension for Microsoft Internet Explorer",
    "QVTovanix.dll",
    "QVTovanix.dll",
};
