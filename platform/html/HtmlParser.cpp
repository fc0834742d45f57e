#include "platform/html/HtmlParser.h"

#include "platform/html/ControlRecognizer.h"
#include "platform/html/NestingLimiter.h"
#include "platform/html/Url.h"

#include <gumbo.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <new>

namespace html {

namespace {

// Every allocation the parser makes lives in this arena: its live size is
// bounded, the clock is checked as it grows, and the whole tree is freed
// at once. Freeing it at once matters: the library's own tree destructor
// recurses once per nesting level.
class ParserArena {
public:
    enum class Stop { None, Memory, Time };

    ParserArena(std::size_t budget, std::chrono::milliseconds time)
        : m_budget(budget)
        , m_deadline(std::chrono::steady_clock::now() + time)
    {
        m_head.prev = m_head.next = &m_head;
    }
    ~ParserArena()
    {
        for (Block* b = m_head.next; b != &m_head;) {
            Block* next = b->next;
            std::free(b);
            b = next;
        }
    }
    ParserArena(const ParserArena&) = delete;
    ParserArena& operator=(const ParserArena&) = delete;

    static void* Allocate(void* self, std::size_t size) { return static_cast<ParserArena*>(self)->DoAllocate(size); }
    static void Free(void* self, void* p) { static_cast<ParserArena*>(self)->DoFree(p); }

    std::jmp_buf escape;
    Stop stop = Stop::None;

private:
    struct alignas(16) Block {
        Block* prev;
        Block* next;
        std::size_t size;
    };

    // Called from inside the C parser: leaving by longjmp skips only C
    // frames, which hold nothing but arena memory.
    void* DoAllocate(std::size_t size)
    {
        if (size > m_budget - std::min(m_live, m_budget)) {
            stop = Stop::Memory;
            std::longjmp(escape, 1);
        }
        if ((++m_calls & 1023) == 0 && std::chrono::steady_clock::now() > m_deadline) {
            stop = Stop::Time;
            std::longjmp(escape, 1);
        }
        auto* b = static_cast<Block*>(std::malloc(sizeof(Block) + size));
        if (!b) {
            stop = Stop::Memory;
            std::longjmp(escape, 1);
        }
        b->size = size;
        b->next = m_head.next;
        b->prev = &m_head;
        m_head.next->prev = b;
        m_head.next = b;
        m_live += size;
        return b + 1;
    }

    void DoFree(void* p)
    {
        if (!p)
            return;
        Block* b = static_cast<Block*>(p) - 1;
        b->prev->next = b->next;
        b->next->prev = b->prev;
        m_live -= b->size;
        std::free(b);
    }

    Block m_head {};
    std::size_t m_live = 0;
    std::size_t m_budget;
    std::chrono::steady_clock::time_point m_deadline;
    unsigned m_calls = 0;
};

// Kept free of C++ objects with destructors: the parser may leave by longjmp.
GumboOutput* ParseInArena(ParserArena& arena, const GumboOptions* options, const char* text, std::size_t length)
{
    if (setjmp(arena.escape) != 0)
        return nullptr;
    return gumbo_parse_with_options(options, text, length);
}

std::string Upper(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    return out;
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

bool IsElement(const GumboNode* n) { return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE; }

// The tag name in lower case, also for tags the library does not know.
std::string TagName(const GumboElement& e)
{
    if (e.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(e.tag);
    GumboStringPiece piece = e.original_tag;
    if (piece.data == nullptr || piece.length == 0)
        return "unknown";
    gumbo_tag_from_original_text(&piece);
    return Lower(std::string_view(piece.data, piece.length));
}

std::string NodeName(const GumboNode* n)
{
    switch (n->type) {
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE:
        return Upper(TagName(n->v.element));
    case GUMBO_NODE_COMMENT:
        return "#comment";
    case GUMBO_NODE_DOCUMENT:
        return "#document";
    default:
        return "#text";
    }
}

bool IsHtmlElement(const GumboNode* n, GumboTag tag)
{
    return IsElement(n) && n->v.element.tag == tag && n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

const char* AttributeOf(const GumboNode* n, const char* name)
{
    const GumboAttribute* a = gumbo_get_attribute(&n->v.element.attributes, name);
    return a ? a->value : nullptr;
}

std::string TextContent(const GumboNode* n)
{
    std::string text;
    const GumboVector& children = n->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        auto* c = static_cast<const GumboNode*>(children.data[i]);
        if (c->type == GUMBO_NODE_TEXT || c->type == GUMBO_NODE_WHITESPACE || c->type == GUMBO_NODE_CDATA)
            text += c->v.text.text;
    }
    return text;
}

bool HasToken(std::string_view list, std::string_view token)
{
    std::string lower = Lower(list);
    std::size_t i = 0;
    while (i < lower.size()) {
        std::size_t start = lower.find_first_not_of(" \t\n\r\f", i);
        if (start == std::string::npos)
            break;
        std::size_t end = lower.find_first_of(" \t\n\r\f", start);
        if (end == std::string::npos)
            end = lower.size();
        if (std::string_view(lower).substr(start, end - start) == token)
            return true;
        i = end;
    }
    return false;
}

// Builds the model from the parse tree in one pass, in document order.
class ModelBuilder {
public:
    ModelBuilder(ParsedPage& page, std::string base, std::size_t maxDepth)
        : m_page(page)
        , m_base(std::move(base))
        , m_maxDepth(maxDepth)
    {
    }

    void Build(const GumboNode* root)
    {
        Document& doc = *m_page.document;
        struct Item {
            const GumboNode* node;
            Node* parent;       // model parent, or null when cut off
            std::size_t depth;  // element depth (the root element is 1)
            bool insideControl; // below an <object> that is a recognised control
        };
        std::vector<Item> stack;
        stack.push_back({ root, nullptr, 1, false });
        bool first = true;
        while (!stack.empty()) {
            Item it = stack.back();
            stack.pop_back();
            const GumboNode* n = it.node;

            Node* model = nullptr;
            bool keep = first || it.parent != nullptr;
            if (keep && IsElement(n) && it.depth > m_maxDepth) {
                keep = false;
                ++m_cutElements;
            }
            if (keep) {
                auto node = std::make_unique<Node>();
                node->nodeName = NodeName(n);
                if (IsElement(n)) {
                    const GumboVector& attrs = n->v.element.attributes;
                    for (unsigned i = 0; i < attrs.length; ++i) {
                        auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
                        node->attributes.push_back({ a->name, a->value, true });
                    }
                } else if (n->type == GUMBO_NODE_COMMENT || n->type == GUMBO_NODE_TEXT
                           || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
                    node->nodeValue = n->v.text.text;
                }
                model = node.get();
                if (first)
                    doc.documentElement = std::move(node);
                else
                    it.parent->childNodes.push_back(std::move(node));
            }
            first = false;
            if (!IsElement(n))
                continue;

            bool insideControl = it.insideControl || Collect(n, it.insideControl);
            // Template contents belong to a separate fragment, not to the
            // document: no child nodes, nothing in the collections.
            if (n->type == GUMBO_NODE_TEMPLATE)
                continue;
            const GumboVector& children = n->v.element.children;
            for (unsigned i = children.length; i-- > 0;) {
                stack.push_back({ static_cast<const GumboNode*>(children.data[i]), model, it.depth + 1, insideControl });
            }
        }
        if (m_cutElements > 0) {
            doc.notes.push_back(std::to_string(m_cutElements) + (m_cutElements == 1 ? " element" : " elements")
                                + " nested deeper than " + std::to_string(m_maxDepth)
                                + " levels left out of the element tree");
        }
    }

private:
    std::string Resolve(const char* ref) const
    {
        if (!ref || m_base.empty())
            return {};
        std::optional<std::string> url = ResolveUrl(m_base, ref);
        return url ? *url : std::string();
    }

    // Adds the element to the collection it belongs to; true when it is an
    // embedded control whose own content the browser does not render.
    bool Collect(const GumboNode* n, bool insideControl)
    {
        if (n->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
            return false;
        Document& doc = *m_page.document;
        switch (n->v.element.tag) {
        case GUMBO_TAG_IMG: {
            const char* src = AttributeOf(n, "src");
            Image image;
            image.src = std::string(src ? src : "");
            std::string url = src && *src ? Resolve(src) : std::string();
            image.href = url.empty() ? std::string(src ? src : "") : url;
            PendingImage pending;
            pending.url = StripFragment(url);
            if (const char* w = AttributeOf(n, "width"))
                pending.widthAttribute = HtmlParser::ParseDimension(w);
            if (const char* h = AttributeOf(n, "height"))
                pending.heightAttribute = HtmlParser::ParseDimension(h);
            doc.images->push_back(std::move(image));
            m_page.images.push_back(std::move(pending));
            return false;
        }
        case GUMBO_TAG_SCRIPT: {
            const char* src = AttributeOf(n, "src");
            doc.scripts->push_back({ std::string(src ? src : ""), TextContent(n) });
            return false;
        }
        case GUMBO_TAG_STYLE:
            doc.styleSheets->push_back({ std::string(), TextContent(n) });
            m_page.styleSheetUrls.emplace_back();
            return false;
        case GUMBO_TAG_LINK: {
            const char* rel = AttributeOf(n, "rel");
            const char* href = AttributeOf(n, "href");
            if (!rel || !href || !HasToken(rel, "stylesheet") || std::string_view(href).find_first_not_of(" \t\n\r\f") == std::string_view::npos)
                return false;
            doc.styleSheets->push_back({ std::string(href), std::string() });
            m_page.styleSheetUrls.push_back(StripFragment(Resolve(href)));
            return false;
        }
        case GUMBO_TAG_FRAME:
        case GUMBO_TAG_IFRAME: {
            const char* src = AttributeOf(n, "src");
            Frame frame;
            frame.frameElement = FrameElement { std::string(src ? src : ""), n->v.element.tag == GUMBO_TAG_IFRAME };
            doc.frames->push_back(std::move(frame));
            m_page.frameUrls.push_back(src && *src ? Resolve(src) : std::string());
            return false;
        }
        case GUMBO_TAG_OBJECT:
        case GUMBO_TAG_EMBED:
            return insideControl ? false : CollectControl(n);
        default:
            return false;
        }
    }

    bool CollectControl(const GumboNode* n)
    {
        ControlMarkup markup;
        bool isObject = n->v.element.tag == GUMBO_TAG_OBJECT;
        markup.tagName = isObject ? "OBJECT" : "EMBED";
        const GumboVector& attrs = n->v.element.attributes;
        for (unsigned i = 0; i < attrs.length; ++i) {
            auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
            markup.attributes.emplace_back(a->name, a->value);
        }
        if (isObject) {
            const GumboVector& children = n->v.element.children;
            for (unsigned i = 0; i < children.length; ++i) {
                auto* c = static_cast<const GumboNode*>(children.data[i]);
                if (!IsHtmlElement(c, GUMBO_TAG_PARAM))
                    continue;
                const char* name = AttributeOf(c, "name");
                const char* value = AttributeOf(c, "value");
                if (name)
                    markup.params.emplace_back(name, value ? value : "");
            }
        }
        EmbeddedControl control = MakeControl(markup);
        bool recognised = control.kind != ControlKind::Unknown;
        // An unknown <object> is a plug-in only when it names an ActiveX
        // class; otherwise it shows its fallback content, where a known
        // control may still stand. An unknown <embed> is always a plug-in.
        if (recognised || !isObject || !control.classId.empty())
            m_page.document->embeddedControls->push_back(std::move(control));
        return recognised && isObject;
    }

    ParsedPage& m_page;
    std::string m_base;
    std::size_t m_maxDepth;
    std::size_t m_cutElements = 0;
};

// The first <base href> in document order (HTML: "the frozen base URL").
const char* FindBaseHref(const GumboNode* root)
{
    std::vector<const GumboNode*> stack { root };
    while (!stack.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (!IsElement(n))
            continue;
        if (IsHtmlElement(n, GUMBO_TAG_BASE)) {
            if (const char* href = AttributeOf(n, "href"))
                return href;
        }
        const GumboVector& children = n->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
    return nullptr;
}

} // namespace

std::optional<std::int32_t> HtmlParser::ParseDimension(std::string_view v)
{
    std::size_t i = v.find_first_not_of(" \t\n\r\f");
    if (i == std::string_view::npos)
        return std::nullopt;
    if (v[i] == '+')
        ++i;
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9') {
        value = std::min<std::int64_t>(value * 10 + (v[i] - '0'), INT32_MAX);
        ++i;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    while (i < v.size() && ((v[i] >= '0' && v[i] <= '9') || v[i] == '.'))
        ++i;
    if (i < v.size() && v[i] == '%')
        return std::nullopt; // relative to a layout the loader does not make
    return static_cast<std::int32_t>(value);
}

ParseResult HtmlParser::Parse(std::string_view utf8, std::string_view documentUrl, const ParseLimits& limits)
{
    ParseResult result;
    NestingLimitResult limited = LimitNesting(utf8, limits.maxElementDepth);

    ParserArena arena(limits.maxParserMemory, limits.maxParseTime);
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &ParserArena::Allocate;
    options.deallocator = &ParserArena::Free;
    options.userdata = &arena;
    options.max_errors = 0; // recording errors costs a copy of the open-element stack each
    GumboOutput* output = ParseInArena(arena, &options, limited.text.data(), limited.text.size());
    if (!output) {
        if (arena.stop == ParserArena::Stop::Time) {
            result.error = "the page is too complex to parse in " + std::to_string(limits.maxParseTime.count()) + " ms";
        } else {
            result.error = "the page is too complex to parse in " + std::to_string(limits.maxParserMemory >> 20)
                + " MiB of memory";
        }
        return result;
    }

    ParsedPage page;
    page.document = std::make_unique<Document>();
    page.document->URL = std::string(documentUrl);
    std::string base(documentUrl);
    if (const char* baseHref = FindBaseHref(output->root)) {
        if (std::optional<std::string> resolved = ResolveUrl(documentUrl, baseHref))
            base = *resolved;
    }
    if (SchemeOf(base).empty())
        base.clear();
    if (limited.droppedTags > 0) {
        page.document->notes.push_back("element nesting deeper than " + std::to_string(limits.maxElementDepth)
                                       + " levels flattened (" + std::to_string(limited.droppedTags) + " tags dropped)");
    }
    ModelBuilder(page, base, limits.maxElementDepth).Build(output->root);
    result.page = std::move(page);
    return result; // the arena frees the parse tree
}

} // namespace html
