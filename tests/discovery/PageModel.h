#pragma once
// Builds in-memory page models for the discovery tests.
#include "platform/html/HtmlDocument.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace discoverytest {

inline std::unique_ptr<html::Node> Element(std::string name, std::vector<html::Attribute> attributes = {},
                                           std::vector<std::unique_ptr<html::Node>> children = {})
{
    auto node = std::make_unique<html::Node>();
    node->nodeName = std::move(name);
    node->attributes = std::move(attributes);
    node->childNodes = std::move(children);
    return node;
}

inline std::unique_ptr<html::Node> Text(std::string text)
{
    auto node = Element("#text");
    node->nodeValue = std::move(text);
    return node;
}

template <class... Nodes>
std::vector<std::unique_ptr<html::Node>> Children(Nodes... nodes)
{
    std::vector<std::unique_ptr<html::Node>> out;
    (out.push_back(std::move(nodes)), ...);
    return out;
}

inline html::Image LoadedImage(std::string src, int width = 10, int height = 20)
{
    html::Image image;
    image.complete = true;
    image.src = src;
    image.href = src;
    image.width = width;
    image.height = height;
    return image;
}

// A page with nothing in it but an address and an empty HTML element.
inline std::unique_ptr<html::Document> EmptyPage(std::string url)
{
    auto page = std::make_unique<html::Document>();
    page->URL = std::move(url);
    page->documentElement = Element("HTML");
    return page;
}

inline html::Frame FrameOf(std::unique_ptr<html::Document> document, std::string src, bool iframe = false)
{
    html::Frame frame;
    frame.document = std::move(document);
    frame.frameElement = html::FrameElement{std::move(src), iframe};
    return frame;
}

inline html::Frame RefusedFrame(std::string src)
{
    html::Frame frame = FrameOf(nullptr, std::move(src));
    frame.document = html::Read<std::unique_ptr<html::Document>>::Fail(E_ACCESSDENIED);
    frame.refusal = html::FrameRefusal::OtherOrigin;
    return frame;
}

inline html::EmbeddedControl Control(html::ControlKind kind, std::string source)
{
    html::EmbeddedControl control;
    control.kind = kind;
    control.source = std::move(source);
    return control;
}

inline html::EmbeddedControl FailingControl(html::ControlKind kind, HRESULT hr)
{
    html::EmbeddedControl control = Control(kind, "");
    control.source = html::Read<std::string>::Fail(hr);
    return control;
}

} // namespace discoverytest
