#pragma once
// Page models for the dialog tests: an ordinary page with every kind of
// resource and frames, and a hostile one whose every page-supplied text
// tries to break out of the dialog's markup.
#include "dialog/DialogPageBuilder.h"
#include "platform/html/HtmlDocument.h"

#include <memory>
#include <string>
#include <vector>

namespace dialogtest {

inline std::unique_ptr<html::Node> Element(std::string name, std::vector<html::Attribute> attributes = {})
{
    auto node = std::make_unique<html::Node>();
    node->nodeName = std::move(name);
    node->attributes = std::move(attributes);
    return node;
}

inline html::Image Picture(std::string src, std::string href, int width, int height, std::string size = {},
                           std::string mime = {})
{
    return { true, std::move(src), std::move(href), std::move(size), width, height, std::move(mime) };
}

inline html::Script ScriptOf(std::string src, std::string text = {}) { return { std::move(src), std::move(text) }; }
inline html::StyleSheet SheetOf(std::string href, std::string css = {}) { return { std::move(href), std::move(css) }; }

inline html::EmbeddedControl ControlOf(html::ControlKind kind, std::string source)
{
    html::EmbeddedControl control;
    control.kind = kind;
    control.source = std::move(source);
    control.tagName = "OBJECT";
    return control;
}

inline std::unique_ptr<html::Document> EmptyPage(std::string url)
{
    auto page = std::make_unique<html::Document>();
    page->URL = std::move(url);
    page->documentElement = Element("HTML");
    return page;
}

inline html::Frame FrameOf(std::unique_ptr<html::Document> document, std::string src, bool iframe)
{
    html::Frame frame;
    frame.document = std::move(document);
    frame.frameElement = html::FrameElement { std::move(src), iframe };
    return frame;
}

// A page on http://site.test/gallery/ with pictures, scripts, stylesheets,
// one control of each kind, a frame and an iframe inside it.
inline std::unique_ptr<html::Document> GalleryPage()
{
    auto page = EmptyPage("http://site.test/gallery/index.html");
    page->documentElement->childNodes.push_back(Element("BODY", { { "class", "main", true } }));
    page->images->push_back(Picture("img/sunset.jpg", "http://site.test/gallery/img/sunset.jpg", 640, 480, "48213", "JPEG Image"));
    page->images->push_back(Picture("http://site.test/gallery/img/logo.png?v=3", "http://site.test/gallery/img/logo.png?v=3", 120, 40, "2048", "PNG Image"));
    page->images->push_back(Picture("https://cdn.test/pixel.gif", "https://cdn.test/pixel.gif", 1, 1, "43"));
    page->scripts->push_back(ScriptOf("js/app.js"));
    page->scripts->push_back(ScriptOf("", "\n  var greeting = 'hello';\n  console.log(greeting);\n"));
    page->styleSheets->push_back(SheetOf("css/site.css", "body { margin: 0 }"));
    page->styleSheets->push_back(SheetOf("", "h1 { color: red }"));
    page->embeddedControls->push_back(ControlOf(html::ControlKind::Flash, "media/intro.swf"));
    page->embeddedControls->push_back(ControlOf(html::ControlKind::QuickTime, "media/clip.mov"));
    page->embeddedControls->push_back(ControlOf(html::ControlKind::RealPlayer, "rtsp://stream.test/live.rm"));
    page->embeddedControls->push_back(ControlOf(html::ControlKind::MediaPlayer, "mms://stream.test/talk.asf"));

    auto left = EmptyPage("http://site.test/gallery/nav/left.html");
    left->images->push_back(Picture("arrow.gif", "http://site.test/gallery/nav/arrow.gif", 16, 16, "120", "GIF Image"));
    auto inner = EmptyPage("http://site.test/gallery/nav/ad.html");
    inner->images->push_back(Picture("banner.png", "http://site.test/gallery/nav/banner.png", 468, 60, "9000"));
    left->frames->push_back(FrameOf(std::move(inner), "ad.html", true));
    page->frames->push_back(FrameOf(std::move(left), "nav/left.html", false));
    return page;
}

// Markup, quotes and script in every text the page supplies.
inline constexpr const char* kMarkup = "\"'><script>alert(1)</script><img src=x onerror=alert(2)>";

inline std::unique_ptr<html::Document> HostilePage()
{
    const std::string m = kMarkup;
    auto page = EmptyPage("http://evil.test/" + m);
    page->images->push_back(Picture("javascript:alert(3)//" + m, "javascript:alert(3)", 10, 10, m, m));
    page->images->push_back(Picture("data:image/svg+xml,<svg onload=alert(4)>", "data:x", 10, 10));
    page->images->push_back(Picture(" JaVaScRiPt:alert(5)", "x", 1, 1));
    page->images->push_back(Picture("http://evil.test/a.gif\" onerror=\"alert(6)", "x", 1, 1, "12\"><b>"));
    page->images->push_back(Picture("pics/" + m + ".gif", "x", 2, 2));
    page->scripts->push_back(ScriptOf("", "</script><script>alert(7)</script>" + m));
    page->scripts->push_back(ScriptOf("vbscript:msgbox(8)"));
    page->styleSheets->push_back(SheetOf("", "</style><style>*{background:url(javascript:alert(9))}</style>" + m));
    page->styleSheets->push_back(SheetOf("javascript:alert(10)", "x{}"));
    page->embeddedControls->push_back(ControlOf(html::ControlKind::Flash, "javascript:alert(11)"));
    page->embeddedControls->push_back(ControlOf(html::ControlKind::MediaPlayer, "data:text/html,<script>alert(12)</script>"));
    page->embeddedControls->push_back(ControlOf(html::ControlKind::QuickTime, m));
    auto frame = EmptyPage("javascript:alert(13)");
    frame->images->push_back(Picture("x.gif", "x", 1, 1));
    page->frames->push_back(FrameOf(std::move(frame), "javascript:alert(13)" + m, true));
    return page;
}

inline dialog::DialogOptions AllOptions(std::string rootFolder = "/home/u/Grabbed Files")
{
    dialog::DialogOptions o;
    o.rootFolder = std::move(rootFolder);
    o.grabFlash = o.grabQT = o.grabRP = o.grabMP = o.grabPictures = true;
    o.autoClose = o.selectAll = o.grabCSS = o.grabScript = true;
    return o;
}

inline dialog::DialogPictures TestPictures()
{
    return { "http://127.0.0.1:1/t/res/GIF/223", "http://127.0.0.1:1/t/res/GIF/224",
             "http://127.0.0.1:1/t/res/GIF/226", "http://127.0.0.1:1/t/res/GIF/227" };
}

} // namespace dialogtest
