#pragma once
// The library's exported entry points, by name, with C linkage, and the
// pointer types a host uses after dlsym.
#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

#define QV_EXPORT extern "C" __attribute__((visibility("default")))

QV_EXPORT HRESULT DllCanUnloadNow();
QV_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
QV_EXPORT HRESULT DllRegisterServer();
QV_EXPORT HRESULT DllUnregisterServer();

using DllCanUnloadNowFn = HRESULT (*)();
using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
