#include "platform/registry/HiveFile.h"

#include "platform/registry/RegFileFormat.h"
#include "platform/registry/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace platform::registry {

namespace fs = std::filesystem;

namespace {

LONG ErrorFromErrno(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

std::int64_t Nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Closes a descriptor on every path out of a function.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) { }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes now, for callers that must see close's result.
    int Close() { return m_fd < 0 ? 0 : ::close(std::exchange(m_fd, -1)); }

private:
    int m_fd;
};

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Older than this when read, a file's times tell it apart from any later
// version: above the coarsest timestamp granularity of common Linux file
// systems (one second; two on FAT).
constexpr std::int64_t kSettleNs = 2'000'000'000;

// Hive files already reported as unusable by this process.
std::mutex g_reportedMutex;
std::set<std::string> g_reported;

} // namespace

HiveFile::HiveFile(fs::path path, Hive hive)
    : m_path(std::move(path))
    , m_hive(hive)
{
}

HiveFile::~HiveFile() = default;

std::optional<HiveFile::Signature> HiveFile::Stat(const fs::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Signature {};
        return std::nullopt;
    }
    return Signature { true, st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim) };
}

void HiveFile::ReportUnusable(const std::string& why) const
{
    std::lock_guard lock(g_reportedMutex);
    if (!g_reported.insert(m_path.string()).second)
        return;
    // One line, so it reads well among other programs' messages.
    std::fprintf(stderr, "quillory: registry file %s %s; reading it as empty until a change is saved over it\n",
        m_path.c_str(), why.c_str());
}

HiveFile::Loaded HiveFile::Load() const
{
    Loaded result { std::make_unique<HiveKey>(std::string(HiveRootName(m_hive))), {} };
    const std::optional<Signature> before = Stat(m_path);
    if (before && !before->exists)
        return result;
    if (before)
        result.signature = *before;

    Fd fd(::open(m_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            result.signature = {};
            return result;
        }
        ReportUnusable(std::string("cannot be read (") + std::strerror(errno) + ")");
        return result;
    }
    // The signature describes exactly the bytes read: this descriptor's
    // file, even if a writer replaces the path meanwhile.
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        ReportUnusable(std::string("cannot be read (") + std::strerror(errno) + ")");
        return result;
    }
    result.signature = { true, st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim) };
    if (!S_ISREG(st.st_mode)) {
        ReportUnusable("is not a regular file");
        return result;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxHiveFileBytes) {
        ReportUnusable("is larger than " + std::to_string(kMaxHiveFileBytes >> 20) + " MiB");
        return result;
    }
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (true) {
        if (got == text.size()) {
            // The file grew after fstat (a writer that does not use our
            // protocol); read on, still bounded.
            if (text.size() >= kMaxHiveFileBytes) {
                ReportUnusable("is larger than " + std::to_string(kMaxHiveFileBytes >> 20) + " MiB");
                return result;
            }
            text.resize(std::min(text.size() + 4096, kMaxHiveFileBytes));
        }
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ReportUnusable(std::string("cannot be read (") + std::strerror(errno) + ")");
            return result;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);

    ParsedHive parsed = ParseHiveText(text, m_hive);
    if (!parsed.root) {
        ReportUnusable("is corrupt (" + parsed.error + ")");
        return result;
    }
    result.root = std::move(parsed.root);
    return result;
}

bool HiveFile::Settled(const Signature& signature)
{
    if (!signature.exists)
        return true;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now) - signature.mtimeNs > kSettleNs;
}

const HiveKey& HiveFile::Current()
{
    // Each save makes a new inode, and inode numbers are reused at once, so
    // a later version can show the same inode, size and (coarse, one tick
    // or one second) times as the one cached. As git does for its index,
    // trust a matching signature only when the file was already older than
    // the timestamp granularity when it was read: every later version then
    // carries a later time.
    const std::optional<Signature> now = Stat(m_path);
    if (m_root && now && m_signature && *now == *m_signature && m_settled)
        return *m_root;
    Loaded loaded = Load();
    m_root = std::move(loaded.root);
    m_signature = loaded.signature;
    m_settled = Settled(loaded.signature);
    return *m_root;
}

LONG HiveFile::Update(const std::function<LONG(HiveKey& root, Change& change)>& change)
{
    std::error_code ec;
    fs::create_directories(m_path.parent_path(), ec);
    if (ec)
        return ErrorFromErrno(ec.value());

    // Read access suffices for flock, so a lock file created by another
    // user of a shared hive still serves everyone.
    const std::string lockPath = m_path.string() + ".lock";
    Fd lock(::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0)
        return ErrorFromErrno(errno);
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return ErrorFromErrno(errno);
    }

    // Always re-read under the lock: the cached tree may predate another
    // process's save even when the file looks the same.
    Loaded loaded = Load();
    Change what = Change::None;
    const LONG result = change(*loaded.root, what);
    if (result != ERROR_SUCCESS || what == Change::None) {
        // The change may have touched the tree before giving up (implicit
        // keys on the way), so it no longer mirrors the file.
        m_root.reset();
        m_signature.reset();
        return result;
    }
    const LONG saved = Save(*loaded.root);
    if (saved == ERROR_SUCCESS) {
        m_root = std::move(loaded.root);
        m_signature = Stat(m_path); // the lock keeps other writers out
        m_settled = false; // written just now
    } else {
        m_root.reset();
        m_signature.reset();
    }
    return saved;
}

LONG HiveFile::Save(const HiveKey& root)
{
    const std::string text = SerializeHive(root, m_hive);
    if (text.size() > kMaxHiveFileBytes)
        return ERROR_NOT_ENOUGH_QUOTA;

    // A hive reached through a symbolic link (a dotfiles folder) is
    // replaced where it really lives, keeping the link.
    fs::path target = m_path;
    std::error_code ec;
    if (fs::is_symlink(m_path, ec)) {
        fs::path real = fs::canonical(m_path, ec);
        if (!ec)
            target = std::move(real);
    }
    const fs::path folder = target.parent_path();

    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return ErrorFromErrno(errno);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0)
        ::fchmod(fd.get(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR); // never lock ourselves out
    // 1. whole content, 2. on disk, 3. in place of the old file in one step,
    // 4. the rename itself on disk.
    const bool written = WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
    const int writeErr = errno;
    if (!written || fd.Close() != 0) {
        const int err = written ? errno : writeErr;
        ::unlink(temp.c_str());
        return ErrorFromErrno(err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return ErrorFromErrno(err);
    }
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get()); // some file systems refuse; the data is in place
    return ERROR_SUCCESS;
}

} // namespace platform::registry
