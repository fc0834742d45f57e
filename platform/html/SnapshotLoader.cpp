#include "platform/html/SnapshotLoader.h"

#include "platform/html/ControlRecognizer.h"
#include "platform/html/PictureProbe.h"
#include "platform/html/ResourceFetcher.h"
#include "platform/html/TextDecoder.h"
#include "platform/html/Url.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>

namespace html {

namespace {

using Json = nlohmann::json;

// The deepest bracket nesting of a JSON text, counted before the parser
// builds anything, so a hostile snapshot never costs a deep recursion.
std::size_t NestingOf(std::string_view text, std::size_t stopAt)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > stopAt)
                return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

const std::string& Str(const Json& j, const char* key)
{
    static const std::string kEmpty;
    if (!j.is_object())
        return kEmpty;
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get_ref<const std::string&>() : kEmpty;
}

bool Bool(const Json& j, const char* key)
{
    if (!j.is_object())
        return false;
    auto it = j.find(key);
    return it != j.end() && it->is_boolean() && it->get<bool>();
}

std::int64_t Int(const Json& j, const char* key, std::int64_t fallback)
{
    if (!j.is_object())
        return fallback;
    auto it = j.find(key);
    if (it == j.end() || !it->is_number())
        return fallback;
    if (it->is_number_float()) {
        double d = it->get<double>();
        if (d != d)
            return fallback;
        if (d >= 9.2e18)
            return INT64_MAX;
        if (d <= -9.2e18)
            return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    if (it->is_number_unsigned())
        return static_cast<std::int64_t>(std::min<std::uint64_t>(it->get<std::uint64_t>(), INT64_MAX));
    return it->get<std::int64_t>();
}

const Json& Array(const Json& j, const char* key)
{
    static const Json kEmpty = Json::array();
    if (!j.is_object())
        return kEmpty;
    auto it = j.find(key);
    return it != j.end() && it->is_array() ? *it : kEmpty;
}

std::int32_t Pixels(std::int64_t v) { return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, INT32_MAX)); }

// [[name, value], ...] with string members only.
std::vector<std::pair<std::string, std::string>> Pairs(const Json& list, std::size_t maxItems)
{
    std::vector<std::pair<std::string, std::string>> out;
    if (!list.is_array())
        return out;
    for (const Json& p : list) {
        if (out.size() >= maxItems)
            break;
        if (p.is_array() && p.size() == 2 && p[0].is_string() && p[1].is_string() && !p[0].get_ref<const std::string&>().empty())
            out.emplace_back(p[0].get<std::string>(), p[1].get<std::string>());
    }
    return out;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return s;
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    return s;
}

bool Fetchable(const std::string& url, bool allowFile)
{
    std::string scheme = SchemeOf(url);
    return scheme == "http" || scheme == "https" || scheme == "ftp" || (allowFile && scheme == "file");
}

// What a fetch of the host's own fills in, per document.
struct Missing {
    Document* doc;
    std::vector<std::pair<std::size_t, std::string>> images; // index, address
    std::vector<std::pair<std::size_t, std::string>> sheets;
};

class Builder {
public:
    Builder(const LoadOptions& options, const SnapshotLimits& limits)
        : m_options(options)
        , m_limits(limits)
    {
    }

    std::unique_ptr<Document> BuildDocument(const Json& j, int depth)
    {
        auto doc = std::make_unique<Document>();
        doc->URL = Str(j, "url");
        Missing missing { doc.get(), {}, {} };

        for (const Json& i : Array(j, "images")) {
            if (!i.is_object())
                continue;
            if (doc->images->size() >= m_limits.maxItems)
                break;
            Image image;
            image.complete = Bool(i, "complete");
            image.src = Str(i, "src");
            image.href = Str(i, "href");
            image.width = Pixels(Int(i, "width", 0));
            image.height = Pixels(Int(i, "height", 0));
            std::int64_t size = Int(i, "size", -1);
            image.fileSize = size >= 0 ? std::to_string(size) : std::string();
            image.mimeType = std::string(SnapshotLoader::DescribeMediaType(Str(i, "type")));
            if (*image.complete && (size < 0 || image.mimeType->empty()))
                missing.images.emplace_back(doc->images->size(), StripFragment(*image.href));
            doc->images->push_back(std::move(image));
        }
        for (const Json& s : Array(j, "scripts")) {
            if (!s.is_object())
                continue;
            if (doc->scripts->size() >= m_limits.maxItems)
                break;
            doc->scripts->push_back({ Str(s, "src"), Str(s, "text") });
        }
        for (const Json& s : Array(j, "styleSheets")) {
            if (!s.is_object())
                continue;
            if (doc->styleSheets->size() >= m_limits.maxItems)
                break;
            if (!Bool(s, "readable") && !Str(s, "url").empty())
                missing.sheets.emplace_back(doc->styleSheets->size(), StripFragment(Str(s, "url")));
            doc->styleSheets->push_back({ Str(s, "href"), Str(s, "cssText") });
        }
        for (const Json& f : Array(j, "frames")) {
            if (!f.is_object())
                continue;
            if (doc->frames->size() >= m_limits.maxItems)
                break;
            doc->frames->push_back(BuildFrame(f, depth, *doc));
        }
        if (auto it = j.find("dom"); it != j.end() && it->is_array())
            doc->documentElement = BuildTree(*it, *doc);
        BuildControls(Array(j, "objects"), *doc);
        if (!missing.images.empty() || !missing.sheets.empty())
            m_missing.push_back(std::move(missing));
        return doc;
    }

    // Byte sizes and types of pictures, texts of sheets the browser kept to
    // itself: all at once, within the static loader's limits.
    void FetchMissing(const std::string& pageUrl)
    {
        if (m_missing.empty())
            return;
        ResourceFetcher fetcher(FetchLimits { m_options.connectTimeout, m_options.transferTimeout, m_options.totalTimeout,
                                              m_options.maxTotalBytes, m_options.maxResources, m_options.maxParallel,
                                              m_options.maxRedirects });
        const bool allowFile = SchemeOf(pageUrl) == "file";
        std::vector<FetchRequest> requests;
        for (const Missing& m : m_missing) {
            for (const auto& [index, url] : m.images) {
                if (Fetchable(url, allowFile))
                    requests.push_back({ url, m_options.maxResourceBytes, m.doc->URL, allowFile });
            }
            for (const auto& [index, url] : m.sheets) {
                if (Fetchable(url, allowFile))
                    requests.push_back({ url, m_options.maxResourceBytes, m.doc->URL, allowFile });
            }
        }
        fetcher.FetchAll(requests);
        for (const Missing& m : m_missing) {
            for (const auto& [index, url] : m.images) {
                const Fetched& f = fetcher.Result(url);
                if (!f.ok())
                    continue;
                Image& image = (*m.doc->images)[index];
                if (image.fileSize->empty())
                    image.fileSize = std::to_string(f.body.size());
                if (image.mimeType->empty()) {
                    auto info = ProbePicture(std::span(reinterpret_cast<const std::uint8_t*>(f.body.data()), f.body.size()));
                    if (info)
                        image.mimeType = std::string(DescribePictureType(info->type));
                }
            }
            for (const auto& [index, url] : m.sheets) {
                const Fetched& f = fetcher.Result(url);
                if (f.ok())
                    (*m.doc->styleSheets)[index].cssText = DecodeToUtf8(f.body, f.contentType, SniffMeta::No);
            }
        }
    }

    bool cut() const { return m_cutNodes > 0 || m_cutFrames > 0; }

private:
    Frame BuildFrame(const Json& f, int depth, Document& parent)
    {
        Frame frame;
        frame.frameElement = FrameElement { Str(f, "src"), Bool(f, "iframe") };
        auto inner = f.is_object() ? f.find("doc") : f.end();
        const bool hasDoc = f.is_object() && inner != f.end() && inner->is_object() && !Bool(f, "refused");
        if (hasDoc && depth + 1 <= m_options.maxFrameDepth && m_frames < m_options.maxFrames) {
            ++m_frames;
            frame.document = BuildDocument(*inner, depth + 1);
            return frame;
        }
        if (hasDoc || Bool(f, "limit")) {
            frame.document = Read<std::unique_ptr<Document>>::Fail(E_ABORT);
            const bool tooDeep = depth + 1 > m_options.maxFrameDepth;
            frame.refusal = tooDeep ? FrameRefusal::DepthLimit : FrameRefusal::FrameLimit;
            frame.note = tooDeep ? "frames nested deeper than " + std::to_string(m_options.maxFrameDepth) + " levels are not read"
                                 : "more than " + std::to_string(m_options.maxFrames) + " frames in the page: the rest are not read";
            if (m_cutFrames++ == 0)
                parent.notes.push_back(frame.note);
            return frame;
        }
        // The browser denied the page access to this frame's document.
        frame.document = Read<std::unique_ptr<Document>>::Fail(E_ACCESSDENIED);
        frame.refusal = FrameRefusal::OtherOrigin;
        frame.note = "frame from another origin: " + frame.frameElement->src;
        return frame;
    }

    // [name, [[attr, value]...], [children...]]; iterative, bounded in
    // depth and in nodes for the whole page.
    std::unique_ptr<Node> BuildTree(const Json& root, Document& doc)
    {
        auto make = [&](const Json& j) -> std::unique_ptr<Node> {
            if (!j.is_array() || j.empty() || !j[0].is_string() || j[0].get_ref<const std::string&>().empty())
                return nullptr;
            if (m_nodes >= m_limits.maxNodes) {
                ++m_cutNodes;
                return nullptr;
            }
            ++m_nodes;
            auto node = std::make_unique<Node>();
            const std::string& name = j[0].get_ref<const std::string&>();
            node->nodeName = name.front() == '#' ? name : Upper(name);
            if (node->IsElement() && j.size() > 1) {
                for (auto& [n, v] : Pairs(j[1], m_limits.maxItems))
                    node->attributes.push_back({ Lower(std::move(n)), std::move(v), true });
            }
            return node;
        };
        std::unique_ptr<Node> top = make(root);
        if (!top || !top->IsElement())
            return nullptr;
        struct Item {
            const Json* json;
            Node* node;
            std::size_t depth;
        };
        std::vector<Item> stack { { &root, top.get(), 1 } };
        while (!stack.empty()) {
            Item it = stack.back();
            stack.pop_back();
            if (it.json->size() < 3 || !(*it.json)[2].is_array())
                continue;
            for (const Json& c : (*it.json)[2]) {
                if (c.is_array() && !c.empty() && c[0].is_string() && it.depth + 1 > static_cast<std::size_t>(m_options.maxElementDepth)
                    && c[0].get_ref<const std::string&>().front() != '#') {
                    ++m_cutNodes;
                    continue;
                }
                std::unique_ptr<Node> child = make(c);
                if (!child)
                    continue;
                Node* raw = child.get();
                it.node->childNodes.push_back(std::move(child));
                if (raw->IsElement())
                    stack.push_back({ &c, raw, it.depth + 1 });
            }
        }
        if (m_cutNodes > 0 && !m_cutNoted) {
            m_cutNoted = true;
            doc.notes.push_back("the snapshot's element tree was cut at " + std::to_string(m_options.maxElementDepth)
                                + " levels or " + std::to_string(m_limits.maxNodes) + " nodes");
        }
        return top;
    }

    // The plug-ins the browser would run: the same choice the static
    // parser makes from the markup, with the nesting the snapshot reports.
    void BuildControls(const Json& objects, Document& doc)
    {
        std::vector<bool> hides; // a recognised <object>: its content is fallback, not run
        for (const Json& o : objects) {
            if (hides.size() >= m_limits.maxItems)
                break;
            std::int64_t parent = Int(o, "parent", -1);
            bool inside = parent >= 0 && static_cast<std::size_t>(parent) < hides.size() && hides[static_cast<std::size_t>(parent)];
            ControlMarkup markup;
            markup.tagName = Upper(Str(o, "tag"));
            const bool isObject = markup.tagName == "OBJECT";
            if (inside || (!isObject && markup.tagName != "EMBED")) {
                hides.push_back(inside);
                continue;
            }
            for (auto& [n, v] : Pairs(Array(o, "attrs"), m_limits.maxItems))
                markup.attributes.emplace_back(Lower(std::move(n)), std::move(v));
            if (isObject) {
                for (auto& p : Pairs(Array(o, "params"), m_limits.maxItems))
                    markup.params.push_back(std::move(p));
            }
            EmbeddedControl control = MakeControl(markup);
            const bool recognised = control.kind != ControlKind::Unknown;
            if (recognised || !isObject || !control.classId.empty())
                doc.embeddedControls->push_back(std::move(control));
            hides.push_back(recognised && isObject);
        }
    }

    const LoadOptions& m_options;
    const SnapshotLimits& m_limits;
    std::size_t m_nodes = 0;
    std::size_t m_cutNodes = 0;
    bool m_cutNoted = false;
    int m_frames = 0;
    int m_cutFrames = 0;
    std::vector<Missing> m_missing;
};

} // namespace

std::string_view SnapshotLoader::DescribeMediaType(std::string_view mediaType)
{
    std::string type = Lower(std::string(mediaType.substr(0, mediaType.find(';'))));
    type.erase(std::remove(type.begin(), type.end(), ' '), type.end());
    if (type == "image/gif")
        return DescribePictureType(PictureType::Gif);
    if (type == "image/png")
        return DescribePictureType(PictureType::Png);
    if (type == "image/jpeg" || type == "image/jpg" || type == "image/pjpeg")
        return DescribePictureType(PictureType::Jpeg);
    if (type == "image/bmp" || type == "image/x-bmp" || type == "image/x-ms-bmp")
        return DescribePictureType(PictureType::Bmp);
    if (type == "image/x-icon" || type == "image/vnd.microsoft.icon")
        return DescribePictureType(PictureType::Icon);
    if (type == "image/webp")
        return DescribePictureType(PictureType::WebP);
    return {};
}

LoadResult SnapshotLoader::Load(std::string_view json, FetchMissing fetch, const LoadOptions& options,
                                const SnapshotLimits& limits)
{
    if (json.size() > limits.maxJsonBytes)
        return LoadResult::Failure("the page snapshot is larger than " + std::to_string(limits.maxJsonBytes >> 20) + " MiB");
    if (NestingOf(json, limits.maxJsonNesting) > limits.maxJsonNesting)
        return LoadResult::Failure("the page snapshot is nested deeper than " + std::to_string(limits.maxJsonNesting) + " levels");
    Json root = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded())
        return LoadResult::Failure("the page snapshot is not JSON");
    if (!root.is_object() || Int(root, "v", 0) != 1 || !root.contains("doc") || !root["doc"].is_object())
        return LoadResult::Failure("not a page snapshot of a known version");
    const Json& page = root["doc"];
    if (Str(page, "url").empty())
        return LoadResult::Failure("the page snapshot names no document address");

    Builder builder(options, limits);
    std::unique_ptr<Document> doc = builder.BuildDocument(page, 0);
    if (Bool(root, "truncated"))
        doc->notes.push_back("the browser's snapshot reached its own limits: parts of the page were left out");
    if (fetch == FetchMissing::Yes)
        builder.FetchMissing(doc->URL);
    return LoadResult::Success(std::move(doc));
}

} // namespace html
