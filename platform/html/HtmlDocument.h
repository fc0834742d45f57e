#pragma once
// The in-memory HTML document model: what a page and its frames offer to
// resource discovery, shaped after the browser's reads. A page loader
// (StaticPageLoader, later a live-DOM snapshot) fills it; discovery only
// reads it. Every read that a browser may refuse is a Read<T>, so "refused"
// and "empty" stay apart; a model built by hand (in tests) only needs to set
// what it cares about, because every Read defaults to a successful empty value.
//
// Texts are UTF-8. Names follow the browser's object model (URL, fileSize,
// cssText, frameElement) so the reading code maps one-to-one onto it.
#include "platform/html/Read.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace html {

class Document;

// One attribute of an element, as the browser's attribute collection lists it.
struct Attribute {
    std::string nodeName;  // lower-case, as the HTML parser reports it
    std::string nodeValue; // as written in the page, entities decoded
    bool specified = true; // present in the page (false: a default the element merely supports)
};

// One node of the element tree.
struct Node {
    // "HTML", "BODY", "IMG" ... for elements (upper-case tag names, as a
    // browser reports them); "#text" and "#comment" for character data.
    std::string nodeName;
    // Character data of "#text"/"#comment" nodes; empty for elements.
    std::string nodeValue;
    std::vector<Attribute> attributes;
    std::vector<std::unique_ptr<Node>> childNodes;

    bool IsElement() const { return !nodeName.empty() && nodeName.front() != '#'; }
    // The specified attribute of that (lower-case) name, or null.
    const Attribute* FindAttribute(std::string_view name) const;
};

// IHTMLImgElement.
struct Image {
    Read<bool> complete;      // true only when the picture has loaded
    Read<std::string> src;    // the src attribute as written (possibly relative)
    Read<std::string> href;   // the picture's full (absolute) address
    Read<std::string> fileSize; // decimal byte count; empty when unknown
    // Display size: the attribute; the other one missing, scaled to the
    // picture's proportions; neither, the picture's own size; 0 when
    // neither attribute nor picture tells.
    Read<std::int32_t> width;
    Read<std::int32_t> height;
    Read<std::string> mimeType; // type description ("GIF Image"); empty when unknown
};

// IHTMLScriptElement.
struct Script {
    Read<std::string> src;  // as written; empty for an inline script
    Read<std::string> text; // the element's inline code
};

// IHTMLStyleSheet: a <style> block or a linked sheet.
struct StyleSheet {
    Read<std::string> href;    // the link's href as written; empty for a <style> block
    Read<std::string> cssText; // the sheet's text (fetched for a linked sheet)
};

// IHTMLFrameBase / IHTMLIFrameElement of the element hosting a frame window.
struct FrameElement {
    std::string src;       // the src attribute as written in the page
    bool isIFrame = false; // hosted by <iframe> (else <frame>)
};

// Why a frame window holds no readable document.
enum class FrameRefusal {
    None,         // the document is there
    OtherOrigin,  // another scheme, host or port: access denied
    LoadFailed,   // the browser shows its own error page (another origin)
    DepthLimit,   // nested deeper than the loader follows
    FrameLimit,   // more frames in the whole page than the loader follows
};

// One entry of a document's frames collection (IHTMLWindow2/IHTMLWindow4).
struct Frame {
    // The window's document; fails with E_ACCESSDENIED for another origin or
    // a failed load, with E_ABORT when a loader limit kept it unloaded.
    Read<std::unique_ptr<Document>> document;
    // The hosting element; nullopt when the window has none to report.
    std::optional<FrameElement> frameElement;
    FrameRefusal refusal = FrameRefusal::None;
    // One line for people: why the document is missing ("" when it is there).
    std::string note;

    const Document* DocumentOrNull() const { return document.ok() ? document->get() : nullptr; }
};

// The kinds of embedded control that discovery knows.
enum class ControlKind {
    Unknown,     // a plug-in none of the readers answers
    Flash,       // IShockwaveFlash: Movie
    QuickTime,   // QuickTime control: its source address
    RealPlayer,  // RealPlayer control: its source address
    MediaPlayer, // IMediaPlayer: FileName
};

std::string_view to_string(ControlKind kind);

// One embedded control (an <object>, or an <embed> not inside a recognised
// <object>). It answers only its own kind's read: a Flash control has a
// Movie, a Media Player a FileName, and so on.
struct EmbeddedControl {
    ControlKind kind = ControlKind::Unknown;
    // The medium's address as the control reports it, for the kind's one
    // property (Flash Movie, QuickTime/RealPlayer source, Media Player
    // FileName). A failure carries the control's HRESULT.
    Read<std::string> source;
    // What the control was recognised from, for diagnostics.
    std::string tagName; // "OBJECT" or "EMBED"
    std::string classId; // classid attribute as written, if any
    std::string type;    // type attribute as written, if any

    bool Answers(ControlKind k) const { return kind != ControlKind::Unknown && kind == k; }
};

// One loaded HTML document (IHTMLDocument2 and friends). Owns its frames'
// documents. Thread: any thread may read; none may change it while another reads.
class Document {
public:
    std::string URL; // the document's address after redirects; "" when none

    Read<std::vector<Image>> images;
    Read<std::vector<Script>> scripts;
    Read<std::vector<StyleSheet>> styleSheets;
    Read<std::vector<Frame>> frames;
    // The root element (IHTMLDocument3::documentElement); null when unreadable.
    std::unique_ptr<Node> documentElement;
    // The document's embedded controls (IOleContainer::EnumObjects); a
    // failure stands for a document without a container or enumerator.
    Read<std::vector<EmbeddedControl>> embeddedControls;

    // What the loader left out or cut short, one line each, for people
    // ("element nesting deeper than 512 levels cut", "frame limit 64 reached").
    std::vector<std::string> notes;
};

} // namespace html
