#pragma once
// A compiled HTML help file (the ITSF/ITSS archive format) opened for
// reading through chmlib.
//
// Thread: one thread at a time per CChmFile.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct chmFile;

class CChmFile {
public:
    // Largest object read into memory; help topics and pop-up text files
    // are small, and the archive's own length fields are not trusted.
    static constexpr std::size_t kMaxObjectSize = 16 * 1024 * 1024;

    // Null when the file cannot be opened or is not a help archive. The
    // path is used exactly as given.
    [[nodiscard]] static std::unique_ptr<CChmFile> Open(const std::string& path);
    ~CChmFile();
    CChmFile(const CChmFile&) = delete;
    CChmFile& operator=(const CChmFile&) = delete;

    // The bytes of the object at `objectPath` ("/smdialog.htm"); nothing
    // when it is missing, unreadable or larger than `limit`.
    [[nodiscard]] std::optional<std::string> Read(std::string_view objectPath,
        std::size_t limit = kMaxObjectSize) const;

    // Paths of the ordinary files in the archive ("/a/b.htm"), without the
    // archive's internal objects (names starting "/#" or "/$"), at most
    // `maxCount` of them.
    [[nodiscard]] std::vector<std::string> Files(std::size_t maxCount) const;

private:
    explicit CChmFile(chmFile* handle) : m_handle(handle) { }
    chmFile* m_handle;
};
