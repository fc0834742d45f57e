#include "options/ChmFile.h"

#include <chm_lib.h>

#include <cstring>

std::unique_ptr<CChmFile> CChmFile::Open(const std::string& path)
{
    if (path.empty())
        return nullptr;
    chmFile* handle = chm_open(path.c_str());
    if (!handle)
        return nullptr;
    return std::unique_ptr<CChmFile>(new CChmFile(handle));
}

CChmFile::~CChmFile()
{
    chm_close(m_handle);
}

std::optional<std::string> CChmFile::Read(std::string_view objectPath, std::size_t limit) const
{
    const std::string path(objectPath);
    chmUnitInfo unit {};
    if (chm_resolve_object(m_handle, path.c_str(), &unit) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (unit.length > limit)
        return std::nullopt;
    std::string data(static_cast<std::size_t>(unit.length), '\0');
    if (data.empty())
        return data;
    const LONGINT64 got = chm_retrieve_object(m_handle, &unit, reinterpret_cast<unsigned char*>(data.data()), 0,
        static_cast<LONGINT64>(data.size()));
    if (got != static_cast<LONGINT64>(data.size()))
        return std::nullopt;
    return data;
}

namespace {

struct FileList {
    std::vector<std::string> paths;
    std::size_t maxCount;
};

int CollectFile(chmFile*, chmUnitInfo* unit, void* context)
{
    auto& list = *static_cast<FileList*>(context);
    if (list.paths.size() >= list.maxCount)
        return CHM_ENUMERATOR_SUCCESS;
    // The path field is fixed-size; chmlib terminates it, but a hostile
    // archive is no reason to trust that.
    const std::string_view path(unit->path, strnlen(unit->path, CHM_MAX_PATHLEN));
    if (path.size() > 1 && path[0] == '/' && path[1] != '#' && path[1] != '$' && path.back() != '/')
        list.paths.emplace_back(path);
    return CHM_ENUMERATOR_CONTINUE;
}

} // namespace

std::vector<std::string> CChmFile::Files(std::size_t maxCount) const
{
    FileList list { {}, maxCount };
    chm_enumerate(m_handle, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, CollectFile, &list);
    return std::move(list.paths);
}
