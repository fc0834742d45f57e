// Fuzzes the URL breakdown and target naming with hostile URLs: nothing may
// crash, every part stays within its limit, and every target path names a
// file directly inside the folder it was asked for.
//
// Input: the URL, optionally followed by a 0xFF byte and a folder text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "saveprocessors/TargetPath.h"
#include "saveprocessors/UrlParts.h"

using namespace QVSaveProcessors;

namespace {

[[noreturn]] void Fail(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "invariant broken: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

void CheckParts(std::string_view url, bool decode)
{
    const auto parts = SplitUrl(url, decode);
    const UrlParts orEmpty = SplitUrlOrEmpty(url, decode);
    if (!parts) {
        if (orEmpty.schemeNumber != -1 || !orEmpty.schemeName.empty() || !orEmpty.hostName.empty()
            || !orEmpty.urlPath.empty() || !orEmpty.extraInfo.empty() || orEmpty.port != 0)
            Fail("failed breakdown left parts behind", url);
        return;
    }
    if (parts->schemeNumber < -1 || parts->schemeNumber > 7)
        Fail("scheme number out of range", url);
    if (parts->schemeName.empty() || parts->schemeName.size() > kMaxSchemeNameLength
        || parts->userName.size() > kMaxUserNameLength || parts->password.size() > kMaxPasswordLength
        || parts->hostName.size() > kMaxHostNameLength || parts->urlPath.size() > kMaxUrlPathLength
        || parts->extraInfo.size() > kMaxExtraInfoLength)
        Fail("part over its limit", url);
    if (!decode && !url.starts_with(parts->schemeName + ":"))
        Fail("scheme name is not the text before the first colon", url);
    if (parts->scheme() != Scheme::File && parts->hostName.find('/') != std::string::npos)
        Fail("host holds a separator", url);
}

// The target must be <canonical folder>/<name> with a plain file name.
void CheckTarget(std::string_view url, std::string_view folder, std::string_view extension)
{
    const std::string path = MakeTargetPath(url, folder, extension);
    const std::string canonical = CanonicalizePath(folder);
    std::string prefix = canonical;
    if (!prefix.empty() && prefix != "/")
        prefix += '/';
    if (!path.starts_with(prefix))
        Fail("target outside the folder", path);
    const std::string_view name = std::string_view(path).substr(prefix.size());
    if (name.empty() || name == "." || name == "..")
        Fail("target name resolves to a folder", path);
    if (name.find('/') != std::string_view::npos)
        Fail("target name holds a separator", path);
    if (name.find('\0') != std::string_view::npos)
        Fail("target name holds a NUL", path);
    if (name.size() > kMaxFileNameLength)
        Fail("target name over NAME_MAX", path);
    if (CombinePath(canonical, name) != path)
        Fail("target is not the folder joined with the name", path);
}

void CheckCanonical(std::string_view folder)
{
    const std::string canonical = CanonicalizePath(folder);
    if (canonical.find("//") != std::string::npos || canonical.ends_with("/.")
        || canonical.find("/./") != std::string::npos || (canonical.size() > 1 && canonical.ends_with('/')))
        Fail("canonical path keeps empty or '.' components", canonical);
    if (folder.starts_with('/') && (canonical.find("/../") != std::string::npos || canonical.ends_with("/..")))
        Fail("absolute canonical path keeps '..'", canonical);
    if (CanonicalizePath(canonical) != canonical)
        Fail("canonicalisation is not idempotent", canonical);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\xFF');
    const std::string_view url = input.substr(0, split);

    CheckParts(url, true);
    CheckParts(url, false);

    for (std::string_view folder : {"/srv/quillory/root", "/", "", "rel/dir", "/a/./b//../c/"}) {
        CheckTarget(url, folder, {});
        CheckTarget(url, folder, ".asf");
    }
    if (split != std::string_view::npos) {
        const std::string_view folder = input.substr(split + 1);
        CheckCanonical(folder);
        CheckTarget(url, folder, {});
    }
    return 0;
}
