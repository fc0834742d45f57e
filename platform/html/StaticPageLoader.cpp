#include "platform/html/StaticPageLoader.h"

#include "platform/html/HtmlParser.h"
#include "platform/html/PictureProbe.h"
#include "platform/html/ResourceFetcher.h"
#include "platform/html/TextDecoder.h"
#include "platform/html/Url.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <system_error>
#include <utility>

namespace html {

namespace {

std::string OneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string Trimmed(std::string_view s)
{
    std::size_t a = s.find_first_not_of(" \t\n\r\f");
    if (a == std::string_view::npos)
        return {};
    std::size_t b = s.find_last_not_of(" \t\n\r\f");
    return std::string(s.substr(a, b - a + 1));
}

// Whether a fetched body is an HTML document, as a browser decides: by its
// declared type, and by its name and first bytes when nothing is declared
// (file and FTP transfers).
bool IsHtml(const Fetched& f)
{
    std::string type = MediaTypeOf(f.contentType);
    if (type == "text/html" || type == "application/xhtml+xml")
        return true;
    if (!type.empty() && type != "application/octet-stream")
        return false;
    std::string path = StripFragment(f.finalUrl);
    path = path.substr(0, path.find('?'));
    std::size_t dot = path.find_last_of('.');
    std::size_t slash = path.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        std::string ext = path.substr(dot);
        std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        if (ext == ".htm" || ext == ".html" || ext == ".xhtml" || ext == ".shtml")
            return true;
    }
    std::string_view body(f.body);
    if (body.substr(0, 3) == "\xEF\xBB\xBF")
        body.remove_prefix(3);
    std::size_t first = body.find_first_not_of(" \t\n\r\f");
    return first != std::string_view::npos && body[first] == '<';
}

std::string DescribeType(const Fetched& f)
{
    std::string type = MediaTypeOf(f.contentType);
    return type.empty() ? "of unknown type" : type;
}

enum class FramePlan { Blank, Fetch, DepthLimit, FrameLimit };

// One static load: the fetcher with its cache, deadline and byte budget,
// and the frame budget, shared by the page and all its frames.
class Loader {
public:
    explicit Loader(const LoadOptions& o)
        : m_options(o)
        , m_fetcher(FetchLimits { o.connectTimeout, o.transferTimeout, o.totalTimeout, o.maxTotalBytes,
                                  o.maxResources, o.maxParallel, o.maxRedirects })
    {
    }

    LoadResult Run(std::string_view input)
    {
        std::string error;
        std::string url = AddressOf(Trimmed(input), error);
        if (url.empty())
            return LoadResult::Failure(OneLine(error));
        m_fetcher.FetchAll({ FetchRequest { url, m_options.maxDocumentBytes, "", SchemeOf(url) == "file" } });
        const Fetched& page = m_fetcher.Result(url);
        if (!page.ok())
            return LoadResult::Failure(OneLine("cannot load " + url + ": " + page.error));
        if (!IsHtml(page))
            return LoadResult::Failure(OneLine("not an HTML document: " + page.finalUrl + " is " + DescribeType(page)));
        std::unique_ptr<Document> doc = BuildDocument(page, 0, error);
        if (!doc)
            return LoadResult::Failure(OneLine("cannot read " + page.finalUrl + ": " + error));
        if (m_fetcher.deadlinePassed()) {
            doc->notes.push_back("the load's time limit was reached; resources still missing then were left out");
        }
        return LoadResult::Success(std::move(doc));
    }

private:
    static std::string AddressOf(const std::string& input, std::string& error)
    {
        if (input.empty()) {
            error = "no address given";
            return {};
        }
        std::string scheme = SchemeOf(input);
        std::error_code ec;
        // One letter before ':' is a drive, not a scheme; a file named
        // "notes:v2.html" is a file.
        if (scheme.size() > 1 && !std::filesystem::is_regular_file(input, ec)) {
            if (scheme != "http" && scheme != "https" && scheme != "ftp" && scheme != "file") {
                error = "unsupported address scheme \"" + scheme + "\": " + input;
                return {};
            }
            std::optional<std::string> url = ResolveUrl(input, "");
            if (!url || !OriginOf(*url)) {
                error = "malformed address: " + input;
                return {};
            }
            return *url;
        }
        std::filesystem::path path = std::filesystem::absolute(input, ec);
        if (ec || !std::filesystem::exists(path, ec)) {
            error = "no such file: " + input;
            return {};
        }
        if (!std::filesystem::is_regular_file(path, ec)) {
            error = "not a file: " + input;
            return {};
        }
        return FileUrlFromPath(path);
    }

    std::unique_ptr<Document> BlankDocument(const std::string& url)
    {
        ParseResult parsed = HtmlParser::Parse("", url, Limits());
        return parsed ? std::move(parsed.page->document) : std::make_unique<Document>();
    }

    // Frame documents share what is left of the load's time; the page
    // itself always gets its full parse time.
    ParseLimits Limits(int depth = 0) const
    {
        std::chrono::milliseconds time = m_options.maxParseTime;
        if (depth > 0)
            time = std::min(time, m_fetcher.remaining());
        return ParseLimits { static_cast<std::size_t>(std::max(1, m_options.maxElementDepth)), m_options.maxParserMemory,
                             time };
    }

    // Parses a fetched document, fetches what it refers to, and loads its
    // frames, recursively.
    std::unique_ptr<Document> BuildDocument(const Fetched& fetched, int depth, std::string& error)
    {
        const std::string docUrl = fetched.finalUrl;
        if (depth > 0 && m_fetcher.deadlinePassed()) {
            error = "the load's time limit was reached";
            return nullptr;
        }
        ParseResult parsed = HtmlParser::Parse(DecodeToUtf8(fetched.body, fetched.contentType, SniffMeta::Yes), docUrl, Limits(depth));
        if (!parsed) {
            error = parsed.error;
            return nullptr;
        }
        ParsedPage& page = *parsed.page;
        Document& doc = *page.document;
        const bool allowFile = SchemeOf(docUrl) == "file";

        // 1. Plan: what to fetch, and which frames the limits keep empty.
        std::vector<FetchRequest> requests;
        auto want = [&](const std::string& url, std::size_t cap) {
            if (!url.empty())
                requests.push_back(FetchRequest { url, cap, docUrl, allowFile });
        };
        for (const PendingImage& p : page.images)
            want(p.url, m_options.maxResourceBytes);
        for (const std::string& u : page.styleSheetUrls)
            want(u, m_options.maxResourceBytes);
        std::vector<FramePlan> plans;
        for (const std::string& u : page.frameUrls) {
            std::string scheme = SchemeOf(u);
            FramePlan plan = FramePlan::Fetch;
            if (depth + 1 > m_options.maxFrameDepth)
                plan = FramePlan::DepthLimit;
            else if (m_frames >= m_options.maxFrames)
                plan = FramePlan::FrameLimit;
            else if (u.empty() || scheme == "about" || scheme == "javascript")
                plan = FramePlan::Blank;
            if (plan == FramePlan::Fetch || plan == FramePlan::Blank)
                ++m_frames;
            if (plan == FramePlan::Fetch)
                want(StripFragment(u), m_options.maxDocumentBytes);
            plans.push_back(plan);
        }

        // 2. Everything of this document at once.
        m_fetcher.FetchAll(requests);

        // 3. Pictures, as the browser sees them once loading has ended.
        for (std::size_t i = 0; i < page.images.size(); ++i)
            FillImage((*doc.images)[i], page.images[i]);

        // 4. Linked stylesheets carry their fetched text.
        for (std::size_t i = 0; i < page.styleSheetUrls.size(); ++i) {
            const std::string& u = page.styleSheetUrls[i];
            if (u.empty())
                continue;
            const Fetched& f = m_fetcher.Result(u);
            (*doc.styleSheets)[i].cssText = f.ok() ? DecodeToUtf8(f.body, f.contentType, SniffMeta::No) : std::string();
        }

        // 5. Frames, each to its own depth.
        bool depthNoted = false;
        bool countNoted = false;
        for (std::size_t i = 0; i < plans.size(); ++i) {
            Frame& frame = (*doc.frames)[i];
            const std::string& u = page.frameUrls[i];
            switch (plans[i]) {
            case FramePlan::Blank:
                frame.document = BlankDocument("about:blank");
                break;
            case FramePlan::DepthLimit:
                Refuse(frame, FrameRefusal::DepthLimit, E_ABORT,
                       "frames nested deeper than " + std::to_string(m_options.maxFrameDepth) + " levels are not loaded");
                if (!std::exchange(depthNoted, true))
                    doc.notes.push_back(frame.note);
                break;
            case FramePlan::FrameLimit:
                Refuse(frame, FrameRefusal::FrameLimit, E_ABORT,
                       "more than " + std::to_string(m_options.maxFrames) + " frames in the page: the rest are not loaded");
                if (!std::exchange(countNoted, true))
                    doc.notes.push_back(frame.note);
                break;
            case FramePlan::Fetch:
                LoadFrame(frame, m_fetcher.Result(StripFragment(u)), docUrl, depth + 1);
                break;
            }
        }
        return std::move(page.document);
    }

    static void Refuse(Frame& frame, FrameRefusal why, HRESULT hr, std::string note)
    {
        frame.document = Read<std::unique_ptr<Document>>::Fail(hr);
        frame.refusal = why;
        frame.note = OneLine(std::move(note));
    }

    void LoadFrame(Frame& frame, const Fetched& f, const std::string& parentUrl, int depth)
    {
        // A browser shows its own error page, which the page may not read.
        if (f.outcome != Fetched::Outcome::Ok && f.outcome != Fetched::Outcome::HttpError) {
            Refuse(frame, FrameRefusal::LoadFailed, E_ACCESSDENIED, "frame " + f.finalUrl + ": " + f.error);
            return;
        }
        // RFC 6454: the frame's final address after redirects decides.
        if (!SameOrigin(f.finalUrl, parentUrl)) {
            Refuse(frame, FrameRefusal::OtherOrigin, E_ACCESSDENIED, "frame from another origin: " + f.finalUrl);
            return;
        }
        if (!IsHtml(f)) {
            std::unique_ptr<Document> doc = BlankDocument(f.finalUrl);
            doc->notes.push_back(OneLine("not an HTML document: " + f.finalUrl + " is " + DescribeType(f)));
            frame.document = std::move(doc);
            return;
        }
        std::string error;
        std::unique_ptr<Document> doc = BuildDocument(f, depth, error);
        if (!doc) {
            Refuse(frame, FrameRefusal::LoadFailed, E_ACCESSDENIED, "frame " + f.finalUrl + ": " + error);
            return;
        }
        frame.document = std::move(doc);
    }

    void FillImage(Image& image, const PendingImage& pending)
    {
        std::optional<PictureInfo> info;
        if (!pending.url.empty()) {
            const Fetched& f = m_fetcher.Result(pending.url);
            if (f.ok()) {
                image.fileSize = std::to_string(f.body.size());
                info = ProbePicture(std::span(reinterpret_cast<const std::uint8_t*>(f.body.data()), f.body.size()));
            }
        }
        image.complete = info.has_value();
        image.mimeType = info ? std::string(DescribePictureType(info->type)) : std::string();

        // Display size: the attributes, the missing one scaled to the
        // picture's own proportions, else the picture's own size.
        std::optional<std::int64_t> w = pending.widthAttribute;
        std::optional<std::int64_t> h = pending.heightAttribute;
        if (info && w && !h)
            h = (*w * info->height + info->width / 2) / info->width;
        else if (info && h && !w)
            w = (*h * info->width + info->height / 2) / info->height;
        else if (info && !w && !h) {
            w = info->width;
            h = info->height;
        }
        auto clamp = [](std::optional<std::int64_t> v) {
            return static_cast<std::int32_t>(std::clamp<std::int64_t>(v.value_or(0), 0, INT32_MAX));
        };
        image.width = clamp(w);
        image.height = clamp(h);
    }

    LoadOptions m_options;
    ResourceFetcher m_fetcher;
    int m_frames = 0; // frame documents loaded or planned in the whole page
};

} // namespace

LoadResult StaticPageLoader::Load(std::string_view urlOrPath, const LoadOptions& options)
{
    Loader loader(options);
    return loader.Run(urlOrPath);
}

} // namespace html
