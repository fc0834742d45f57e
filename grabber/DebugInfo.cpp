#include "grabber/DebugInfo.h"

#include "grabber/Folders.h"
#include "platform/xml/Document.h"

#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace debuginfo {

namespace {

struct DebugDocument {
    std::optional<xml::Document> doc;
    std::optional<xml::Element> root;
    std::optional<xml::Element> session;

    void Drop()
    {
        session.reset();
        root.reset();
        doc.reset();
    }
};

// One document per thread: a grab and its records stay on the thread that
// runs it, so no lock is needed around the document itself.
thread_local DebugDocument t_debug;

// Objects on different threads may save at the same time; the file is
// shared, so its replacement is serialised here.
std::mutex g_fileMutex;

std::optional<xml::Element> NewSession(xml::Document& doc, xml::Element& root)
{
    auto session = doc.CreateElement("session");
    if (!session || !root.AppendChild(*session))
        return std::nullopt;
    return session;
}

} // namespace

void OpenDebugSession()
{
    auto& d = t_debug;
    if (!d.doc) {
        d.doc.emplace();
        d.doc->SetAsync(false);
        if (auto pi = d.doc->CreateProcessingInstruction("xml", "version='1.0'"))
            d.doc->AppendChild(pi);
        d.root = d.doc->CreateElement("dinfo");
        if (d.root && !d.doc->AppendChild(*d.root))
            d.root.reset();
    }
    // Creation failures leave no current session: records are then dropped,
    // and the grab goes on as without debug mode.
    d.session.reset();
    if (d.root)
        d.session = NewSession(*d.doc, *d.root);
}

void WriteDebugRecord(std::string_view name, std::string_view text)
{
    auto& d = t_debug;
    if (!d.doc || !d.session)
        return;
    auto record = d.doc->CreateElement(name);
    if (!record)
        return;
    if (d.session->AppendChild(*record))
        record->SetText(text);
}

std::string DebugInfoPath()
{
    const std::string folder = ModuleFolder();
    if (folder.empty())
        return {};
    return folder + "/debuginfo.xml";
}

void SaveDebugInfo()
{
    auto& d = t_debug;
    if (!d.doc)
        return;
    if (const std::string path = DebugInfoPath(); !path.empty()) {
        std::ostringstream tmp;
        tmp << path << '.' << ::getpid() << '.' << std::this_thread::get_id() << ".tmp";
        std::lock_guard lock(g_fileMutex);
        if (d.doc->Save(tmp.str())) {
            std::error_code ec;
            std::filesystem::rename(tmp.str(), path, ec);
            if (ec)
                std::filesystem::remove(tmp.str(), ec);
        } else {
            std::error_code ec;
            std::filesystem::remove(tmp.str(), ec);
        }
    }
    d.Drop();
}

std::optional<std::string> CurrentDebugXml()
{
    if (!t_debug.doc)
        return std::nullopt;
    return t_debug.doc->Xml();
}

} // namespace debuginfo
