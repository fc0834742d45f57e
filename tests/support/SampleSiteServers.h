#pragma once
// The sample site (sample/site) served on loopback by two servers: `other`
// is the second origin that the site's pages name through @OTHER_ORIGIN@.
// Both stop with the object, or by themselves after `lifetime` seconds.
#include "tests/support/PythonServer.h"
#include "tests/support/TempDir.h"

#include <string>
#include <vector>

namespace testsupport {

inline std::filesystem::path SiteServerScript()
{
    return SourcePath("tests/servers/site_server.py");
}

// Arguments serving the sample site, then `extra`.
inline std::vector<std::string> SiteServerArgs(std::vector<std::string> extra = {}, int lifetime = 600)
{
    std::vector<std::string> args { "--root", SourcePath("sample/site").string(), "--lifetime", std::to_string(lifetime) };
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// Thread: the thread that created it.
struct SampleSiteServers {
    PythonServer other { SiteServerScript(), SiteServerArgs() };
    PythonServer site { SiteServerScript(), SiteServerArgs({ "--define", "OTHER_ORIGIN=" + other.BaseUrl() }) };

    std::string Url(const std::string& path) const { return site.BaseUrl() + path; }
    std::string OtherUrl(const std::string& path) const { return other.BaseUrl() + path; }
};

} // namespace testsupport
