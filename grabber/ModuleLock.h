#pragma once
// The module's lock count: every live grabber object and every server lock
// of the class factory holds one. The library may be unloaded only while it
// is zero.
//
// Thread: any.

// Adds one lock; returns the new count.
long ModuleAddRef();
// Drops one lock; returns the new count.
long ModuleRelease();
// Current count.
[[nodiscard]] long ModuleLockCount();

// Holds one module lock for its lifetime; a member of each object that
// keeps the library loaded.
class CModuleLockHolder {
public:
    CModuleLockHolder() { ModuleAddRef(); }
    ~CModuleLockHolder() { ModuleRelease(); }
    CModuleLockHolder(const CModuleLockHolder&) { ModuleAddRef(); }
    CModuleLockHolder& operator=(const CModuleLockHolder&) = default;
};
