// The page's commands for choosing, saving and checking resources, and for
// its own window.
#include "grabber/NarrowText.h"
#include "grabber/Tovanix.h"
#include "grabber/XmlDomObject.h"
#include "platform/ui/View.h"
#include "saveprocessors/FetchUrlToBuffer.h"
#include "saveprocessors/SavingUrlsDialog.h"
#include "saveprocessors/TargetPath.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// True when `path`, once "." and ".." are resolved, lies inside `folder`.
bool StaysInside(const std::string& folder, const std::string& path)
{
    const std::string base = QVSaveProcessors::CanonicalizePath(folder);
    const std::string full = QVSaveProcessors::CanonicalizePath(path);
    if (base.empty() || full.size() <= base.size())
        return false;
    const std::string prefix = base == "/" ? base : base + "/";
    return full.compare(0, prefix.size(), prefix) == 0;
}

// Creates the file only if nothing is there (no other process may slip a
// file or link in between the check and the creation) and writes all bytes.
bool WriteNewFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

} // namespace

HRESULT CTovanix::Save(BSTR url, BSTR, LONG* res)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!res)
        return E_POINTER;
    *res = 0;
    m_saveSet.insert(NarrowText(url));
    return S_OK;
}

HRESULT CTovanix::CheckSavedUrl(BSTR url, ULONG* state)
{
    if (!state)
        return E_POINTER;
    *state = 0;
    if (auto it = m_results.find(NarrowText(url)); it != m_results.end())
        *state = it->second;
    return S_OK;
}

HRESULT CTovanix::SaveInplace(BSTR url, BSTR, BSTR value, LONG* res)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!res)
        return E_POINTER;
    *res = 0;
    const std::string name = NarrowText(url);
    const std::string path = m_settings.RootFolder + "/" + name;
    // The name comes from the page, whose content comes from the grabbed
    // site: it may name a file below the root folder, never one outside it.
    if (name.empty() || name.front() == '/' || !StaysInside(m_settings.RootFolder, path))
        return S_OK;
    const auto unique = QVSaveProcessors::MakeUniquePath(path);
    if (!unique)
        return S_OK;
    // The text as UTF-16 little-endian code units, no byte-order mark, no
    // terminating zero.
    const std::u16string_view text = BstrView(value);
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    if (WriteNewFile(*unique, bytes))
        *res = 1;
    return S_OK;
}

HRESULT CTovanix::get_IsSaved(VARIANT_BOOL* pVal)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!pVal)
        return E_POINTER;
    *pVal = VARIANT_FALSE;
    return S_OK;
}

HRESULT CTovanix::BrowseForFolder(BSTR* res)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!res)
        return E_POINTER;
    auto folder = ui::ActiveView()->BrowseForFolder(&m_dialog, "Select folder for grabbed files");
    *res = WideText(folder.value_or(std::string()));
    return S_OK;
}

HRESULT CTovanix::SetDlgSize(LONG dX, LONG dY)
{
    m_dialog.SetSize(dX, dY);
    return S_OK;
}

HRESULT CTovanix::CreateXmlDom(IDispatch** pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = CXmlDomObject::Create().Detach();
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT CTovanix::StartDownloading()
{
    // 1.-2. The progress dialog lives only for this call.
    auto dialog = std::make_unique<QVSaveProcessors::CSavingUrlsDialog>();
    dialog->m_urls = m_saveSet;
    dialog->m_rootFolder = m_settings.RootFolder;
    // 3. Modal, owned by the active dialog of this thread (the grab dialog).
    dialog->DoModal();
    // 4. Results of this run replace those of the last; the next batch
    // starts empty.
    m_results.clear();
    for (const auto& [url, code] : dialog->m_results)
        m_results.emplace(url, static_cast<std::uint32_t>(code));
    m_saveSet.clear();
    dialog.reset();
    return S_OK;
}

HRESULT CTovanix::LoadText(BSTR url, BSTR* value)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!value)
        return E_POINTER;
    *value = nullptr;
    std::vector<std::uint8_t> buffer;
    if (!QVSaveProcessors::FetchUrlToBuffer(NarrowText(url), buffer))
        return S_OK;
    // The text ends at its first zero byte.
    std::size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0)
        ++length;
    *value = WideText(std::string_view(reinterpret_cast<const char*>(buffer.data()), length));
    return S_OK;
}
