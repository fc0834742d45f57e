// SplitUrl on well-formed, odd and hostile URLs: which part each byte
// lands in, the limits of every part, and decoding before the split.
#include <gtest/gtest.h>

#include <string>

#include "saveprocessors/UrlParts.h"

using namespace QVSaveProcessors;

namespace {

// "number|scheme|user|password|host|port|path|extra", or "failed".
std::string Describe(std::string_view url, bool decode)
{
    const auto p = SplitUrl(url, decode);
    if (!p)
        return "failed";
    return std::to_string(p->schemeNumber) + "|" + p->schemeName + "|" + p->userName + "|" + p->password + "|" +
           p->hostName + "|" + std::to_string(p->port) + "|" + p->urlPath + "|" + p->extraInfo;
}

struct Case {
    std::string url;
    std::string parts;
    bool decode = true;
};

void ExpectSplits(const std::vector<Case>& cases)
{
    for (const Case& c : cases)
        EXPECT_EQ(Describe(c.url, c.decode), c.parts) << c.url << (c.decode ? "" : " (not decoded)");
}

} // namespace

TEST(SplitUrl, EachPartLandsInItsFieldWithTheSchemeDefaultPort)
{
    ExpectSplits({
        {"http://Host:8080/a/b.gif?x=1#y", "2|http|||Host|8080|/a/b.gif|?x=1#y"},
        // The scheme matches in any case but is kept as written.
        {"HtTpS://h/", "3|HtTpS|||h|443|/|"},
        {"ftp://h/x", "0|ftp|||h|21|/x|"},
        {"gopher://h/x", "1|gopher|||h|70|/x|"},
        {"file:///x", "4|file||||0|/x|"},
        {"news:h", "5|news|||h|0||"},
        {"mailto:a@h", "6|mailto|a||h|0||"},
        {"socks://h", "7|socks|||h|1080||"},
        // A query or fragment right after the host leaves the path empty.
        {"http://h?q=/a/b", "2|http|||h|80||?q=/a/b"},
        {"http://h#/frag", "2|http|||h|80||#/frag"},
        {"http://h/p#a?b", "2|http|||h|80|/p|#a?b"},
        // A file URL keeps query and fragment in its path.
        {"file:///C:/dir/a.txt?x#y", "4|file||||0|/C:/dir/a.txt?x#y|"},
        // An unknown scheme still gives host and path, without a default port.
        {"abc://server:99/p/q.asf", "-1|abc|||server|99|/p/q.asf|"},
        {"mms://media.example/live", "-1|mms|||media.example|0|/live|"},
        {"http://h:65535/", "2|http|||h|65535|/|"},
        {"http://h:/", "2|http|||h|80|/|"},
        // IPv6 literal colons are not a port.
        {"http://[::1]:8080/x", "2|http|||[::1]|8080|/x|"},
    });
}

TEST(SplitUrl, CredentialsAreNeverTakenForTheHost)
{
    ExpectSplits({
        {"ftp://user:pw@h:2121/f", "0|ftp|user|pw|h|2121|/f|"},
        // A decoded %40 inside the credentials must not move the host.
        {"http://a%40b@real.host/x", "2|http|a@b||real.host|80|/x|"},
        // '@' in the path is not a credential separator.
        {"http://h/a@b", "2|http|||h|80|/a@b|"},
        {"http://:pw@h/", "failed"},
    });
}

TEST(SplitUrl, MalformedUrlsFailAndLeaveEveryPartEmpty)
{
    ExpectSplits({
        {"http://[::1/x", "failed"},
        {"http://h:80a/", "failed"},
        {"http://h:65536/", "failed"},
        {"http://h:0000080/", "failed"},
        {"mailto://a@b", "failed"},
        {"MAILTO://a@b", "failed", false},
        {"no colon at all", "failed"},
        {":nothing-before", "failed"},
    });
    const UrlParts parts = SplitUrlOrEmpty("mailto://user:pw@host/x", true);
    EXPECT_EQ(parts.schemeNumber, -1);
    EXPECT_EQ(parts.schemeName + parts.userName + parts.password + parts.hostName + parts.urlPath + parts.extraInfo, "");
    EXPECT_EQ(parts.port, 0);
}

TEST(SplitUrl, EveryPartOverItsLimitFailsAndOneUnderDoesNot)
{
    for (const auto& [url, fits] : std::vector<std::pair<std::string, bool>>{
             {std::string(32, 's') + "://h/", true},
             {std::string(33, 's') + "://h/", false},
             {"http://" + std::string(256, 'h') + "/", true},
             {"http://" + std::string(257, 'h') + "/", false},
             {"http://h/" + std::string(2047, 'p'), true},
             {"http://h/" + std::string(2048, 'p'), false},
             {"http://h/?" + std::string(2048, 'q'), false},
             {"ftp://" + std::string(129, 'u') + "@h/", false},
             {"ftp://u:" + std::string(129, 'p') + "@h/", false},
             {"file://" + std::string(2049, 'f'), false},
             // 2,083 bytes after decoding are accepted, one more is not; an
             // escape counts as the one byte it stands for.
             {"http://h/" + std::string(1000, 'p') + "?" + std::string(1073, 'q'), true},
             {"http://h/" + std::string(1000, 'p') + "?" + std::string(1074, 'q'), false},
             {"http://h/%41" + std::string(1000, 'p') + "?" + std::string(1072, 'q'), true},
             {"http://h/%41" + std::string(1000, 'p') + "?" + std::string(1073, 'q'), false},
         })
        EXPECT_EQ(SplitUrl(url, true).has_value(), fits) << url.substr(0, 40) << "... of " << url.size();
}

TEST(SplitUrl, EscapesAreDecodedBeforeTheSplitAndCutOffOnesFail)
{
    ExpectSplits({
        {"http://h/a%20b.gif", "2|http|||h|80|/a b.gif|"},
        // %3F decodes to '?', which then starts the extra information.
        {"http://h/a%3Fb", "2|http|||h|80|/a|?b"},
        {"http://h/a%3Fb", "2|http|||h|80|/a%3Fb|", false},
        {"http://h/%2f%5c", "2|http|||h|80|//\\|"},
        // Not an escape: kept as written.
        {"http://h/%zz1", "2|http|||h|80|/%zz1|"},
        {"http://h/a%2", "failed"},
        {"http://h/a%", "failed"},
        {"http://h/a%2", "2|http|||h|80|/a%2|", false},
        // A decoded NUL stays inside its part.
        {"http://h/a%00b.gif?x", "2|http|||h|80|" + std::string("/a\0b.gif", 8) + "|?x"},
    });
    EXPECT_FALSE(DecodeUrlEscapes("%4"));
}
