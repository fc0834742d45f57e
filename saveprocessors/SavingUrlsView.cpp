#include "saveprocessors/SavingUrlsView.h"

#include <mutex>
#include <utility>

namespace QVSaveProcessors {

namespace {

std::mutex g_factoryMutex;
SavingUrlsViewFactory g_factory;

} // namespace

void SetSavingUrlsViewFactory(SavingUrlsViewFactory factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::unique_ptr<ISavingUrlsView> CreateSavingUrlsView()
{
    SavingUrlsViewFactory factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    return factory ? factory() : nullptr;
}

} // namespace QVSaveProcessors
