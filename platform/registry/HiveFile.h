#pragma once
// One hive file on disk and the last tree read from it.
//
// Readers see the file as it is now: the tree is re-read whenever the
// file's identity (device, inode, size, change times) differs from what
// was read last, or was too fresh to prove anything (see Current). Writers change the file by read-modify-write under an
// exclusive flock on a sibling "<file>.lock":
//   1. lock, 2. read the file afresh, 3. apply the change to that tree,
//   4. write a temporary file in the same folder and fsync it,
//   5. rename it over the hive, 6. fsync the folder, 7. unlock.
// So concurrent writers in several processes each keep their change, and
// the hive is at every moment one complete version (rename is atomic).
//
// A file that cannot be read or parsed is reported on stderr once per
// process and read as empty; it is left as it is until a change is saved
// over it.
//
// Thread: one thread at a time (the registry serialises its callers).
#include "platform/registry/HiveKey.h"
#include "platform/registry/HiveLocations.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace platform::registry {

// Bigger files are refused as corrupt rather than read into memory.
inline constexpr std::size_t kMaxHiveFileBytes = 64u << 20;

enum class Change {
    None, // nothing to save
    Save, // the tree was changed; write it
};

class HiveFile {
public:
    HiveFile(std::filesystem::path path, Hive hive);
    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;
    ~HiveFile();

    const std::filesystem::path& Path() const { return m_path; }

    // The current tree; valid until the next call on this object.
    const HiveKey& Current();

    // Runs `change` on the freshly read tree under the file lock. A change
    // returns a registry error (nothing is saved) or ERROR_SUCCESS with
    // whether to save. Save failures come back as ERROR_ACCESS_DENIED
    // (permissions, read-only file system), ERROR_NOT_ENOUGH_QUOTA (the
    // tree would exceed kMaxHiveFileBytes) or ERROR_REGISTRY_IO_FAILED.
    LONG Update(const std::function<LONG(HiveKey& root, Change& change)>& change);

private:
    struct Signature {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t mtimeNs = 0;
        std::int64_t ctimeNs = 0;
        friend bool operator==(const Signature&, const Signature&) = default;
    };
    // Whether an unchanged signature proves an unchanged file; see Current.
    static bool Settled(const Signature& signature);
    struct Loaded {
        std::unique_ptr<HiveKey> root;
        Signature signature;
    };

    Loaded Load() const;
    static std::optional<Signature> Stat(const std::filesystem::path& path);
    void ReportUnusable(const std::string& why) const;
    LONG Save(const HiveKey& root);

    std::filesystem::path m_path;
    Hive m_hive;
    std::unique_ptr<HiveKey> m_root;
    std::optional<Signature> m_signature; // of the file m_root was read from
    bool m_settled = false; // Settled(*m_signature) when it was read
};

} // namespace platform::registry
