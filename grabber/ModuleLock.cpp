#include "grabber/ModuleLock.h"

#include <atomic>

namespace {

std::atomic<long> g_lockCount { 0 };

} // namespace

long ModuleAddRef()
{
    return g_lockCount.fetch_add(1, std::memory_order_acq_rel) + 1;
}

long ModuleRelease()
{
    return g_lockCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
}

long ModuleLockCount()
{
    return g_lockCount.load(std::memory_order_acquire);
}
