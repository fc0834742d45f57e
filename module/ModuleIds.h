#pragma once
// Identifiers and names the module registers and answers for.
#include "platform/com/Guid.h"

// {7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}
inline constexpr CLSID CLSID_Tovanix
    = MakeGuid(0x7D3A21B4, 0x5C9E, 0x4F08, 0xA6, 0xD2, 0x3B, 0x81, 0xE0, 0xC4, 0xF9, 0x57);
// {2B6E9F40-81A3-4C5D-9E17-6A0D4B3C8F21}
inline constexpr IID IID_ITovanixRegistered
    = MakeGuid(0x2B6E9F40, 0x81A3, 0x4C5D, 0x9E, 0x17, 0x6A, 0x0D, 0x4B, 0x3C, 0x8F, 0x21);
// {9C4F1E27-3B6A-4D90-8E5B-F2A7C6D13E48}: the type library and, with the
// same value, the application identifier.
inline constexpr GUID LIBID_QVTovanix
    = MakeGuid(0x9C4F1E27, 0x3B6A, 0x4D90, 0x8E, 0x5B, 0xF2, 0xA7, 0xC6, 0xD1, 0x3E, 0x48);
inline constexpr GUID APPID_QVTovanix = LIBID_QVTovanix;
// {5E8B2D19-7A4C-4F63-B0D8-1C9E3A7F2B64}: described by the type library,
// neither implemented nor registered.
inline constexpr CLSID CLSID_Options
    = MakeGuid(0x5E8B2D19, 0x7A4C, 0x4F63, 0xB0, 0xD8, 0x1C, 0x9E, 0x3A, 0x7F, 0x2B, 0x64);
inline constexpr const char* kProgId = "QVTovanix.Tovanix.1";
inline constexpr const char* kVersionIndependentProgId = "QVTovanix.Tovanix";
inline constexpr const char* kClassFriendlyName = "CTovanix Object";
inline constexpr const char* kTypeLibHelpString = "QVTovanix 1.0 Type Library";
