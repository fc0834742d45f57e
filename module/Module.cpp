#include "module/Module.h"

#include "grabber/ModuleLock.h"
#include "module/ModuleIds.h"

// Constructed when the library is loaded (dlopen), before any export is
// called; the counterpart of DllMain's process attach.
CQVTovanixModule g_Module;

CQVTovanixModule::CQVTovanixModule()
    : m_libid(LIBID_QVTovanix)
    , m_appid(APPID_QVTovanix)
{
    // A std::mutex cannot fail to come into being, so the only failure the
    // original start-up knew cannot happen here.
    m_initialized = true;
}

// The count itself lives beside the grabber objects, which take their lock
// without knowing about the module object.
long CQVTovanixModule::Lock() { return ModuleAddRef(); }
long CQVTovanixModule::Unlock() { return ModuleRelease(); }
long CQVTovanixModule::GetLockCount() const { return ModuleLockCount(); }
