#include "grabber/ResourceAddress.h"

#include "platform/sys/XdgPaths.h"

#include <memory>
#include <mutex>

namespace {

void Anchor() { }

std::mutex g_mapperLock;
std::shared_ptr<const ResourceAddressMapper> g_mapper;

} // namespace

std::string ModuleResourceAddress(const std::string& moduleFile, std::string_view type, int id)
{
    if (moduleFile.empty())
        return {};
    return "res://" + moduleFile + "/" + std::string(type) + "/" + std::to_string(id);
}

std::string ResourceAddressFor(std::string_view type, int id)
{
    std::shared_ptr<const ResourceAddressMapper> mapper;
    {
        std::lock_guard lock(g_mapperLock);
        mapper = g_mapper;
    }
    // Called outside the lock: a mapper may itself install another one.
    if (mapper)
        return (*mapper)(type, id);
    return ModuleResourceAddress(platform::ModuleFileOf(reinterpret_cast<const void*>(&Anchor)).string(), type, id);
}

void SetResourceAddressMapper(ResourceAddressMapper mapper)
{
    auto next = mapper ? std::make_shared<const ResourceAddressMapper>(std::move(mapper)) : nullptr;
    std::lock_guard lock(g_mapperLock);
    g_mapper = std::move(next);
}
