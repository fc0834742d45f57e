// The grab dialog as a browser builds it: the module's shell page with
// GetData(1) and GetData(0) of a real grab, run by headless Chromium (skipped
// when none is installed) with a recording stand-in for window.external.
// Screenshots go to <build>/artifacts/dialog/ for people.
#include "tests/grabber/GrabberFixture.h"

#include "grabber/ModuleResources.h"
#include "grabber/ResourceAddress.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cstdlib>

using namespace grabbertest;
namespace fs = std::filesystem;

namespace {

std::string ChromiumPath()
{
    for (const char* candidate : { "/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome" })
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return {};
}

// The text as a JavaScript string literal that is also safe inside an HTML
// script element: no '<', '>' or '&' is left to end or open markup.
std::string JsString(std::string_view text)
{
    std::string out;
    for (char c : nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)) {
        if (c == '<' || c == '>' || c == '&')
            out += c == '<' ? "\\u003c" : c == '>' ? "\\u003e" : "\\u0026";
        else
            out.push_back(c);
    }
    return out;
}

// What the stand-in for window.external answers and records. Every call is
// listed in #qx-calls; alert() and friends mark the title, as a script that
// got in would call them.
std::string ExternalStub(const std::string& script, const std::string& body, const std::string& lang)
{
    return "<script>\n"
           "var SCRIPT = " + JsString(script) + ", BODY = " + JsString(body) + ", LANG = " + JsString(lang) + ";\n"
           "var calls = [];\n"
           "function record(t) { calls.push(t); var p = document.getElementById('qx-calls');"
           " if (p) p.textContent = calls.join('\\n'); }\n"
           "window.alert = window.confirm = window.prompt = function () { document.title = 'INJECTED'; };\n"
           "var props = { RootFolder: '/tmp/grabbed', GrabFlash: true, SelectAll: true, AutoClose: false };\n"
           "window.external = new Proxy({}, {\n"
           "  get: function (t, name) {\n"
           "    switch (name) {\n"
           "    case 'GetData': return function (i) { record('GetData ' + i); return i === 1 ? SCRIPT : i === 0 ? BODY : i === 4 ? LANG : i === 3 ? '/home/u/.local/share/Danwell/Tovanix' : ''; };\n"
           "    case 'SetData': return function (i, d) { record('SetData ' + i + ' ' + d.length); record('lang ' + (d.indexOf('<text id=\"save\">Speichern</text>') >= 0) + ' ' + (d.indexOf('<text id=\"scripts\">Scripts</text>') >= 0) + ' ' + (new DOMParser().parseFromString(d, 'application/xml').getElementsByTagName('parsererror').length === 0)); };\n"
           "    case 'Save': return function (u, k) { record('Save ' + u + ' ' + k); return 0; };\n"
           "    case 'StartDownloading': return function () { record('StartDownloading'); };\n"
           "    case 'CheckSavedUrl': return function (u) { return u.indexOf('fail') >= 0 ? 1 : 2; };\n"
           "    case 'SetDlgSize': return function (w, h) { record('SetDlgSize ' + w + ' ' + h); };\n"
           "    case 'BrowseForFolder': return function () { return '/tmp/picked'; };\n"
           "    case 'Exit': case 'ShowHelp': case 'ShowAbout': case 'ShowOptions':\n"
           "      return function () { record(name); };\n"
           "    }\n"
           "    record('get ' + String(name)); return props[name];\n"
           "  },\n"
           "  set: function (t, name, v) { record('set ' + String(name) + ' ' + v); props[name] = v; return true; }\n"
           "});\n"
           "</script>\n";
}

class DialogRender : public GrabberTest {
protected:
    void SetUp() override
    {
        GrabberTest::SetUp();
        chromium = ChromiumPath();
        if (chromium.empty())
            GTEST_SKIP() << "chromium is not installed; the dialog rendering checks need it";
        const char* bin = std::getenv("QUILLORY_BINARY_DIR");
        artifacts = fs::path(bin ? bin : dir.path().string()) / "artifacts" / "dialog";
        fs::create_directories(artifacts);
        // The dialog pictures as files the page can load.
        for (int id : { resources::kLeftCornerImage, resources::kRightCornerImage, resources::kOkImage, resources::kFailImage }) {
            auto gif = resources::FindResource("GIF", id);
            ASSERT_TRUE(gif) << id;
            std::ofstream(dir / (std::to_string(id) + ".gif"), std::ios::binary) << gif->bytes;
        }
        const std::string base = "file://" + dir.path().string() + "/";
        SetResourceAddressMapper([base](std::string_view, int id) { return base + std::to_string(id) + ".gif"; });
    }
    void TearDown() override
    {
        SetResourceAddressMapper({});
        GrabberTest::TearDown();
    }

    // GetData(1) and GetData(0) of a grab of `model`.
    std::pair<std::string, std::string> DialogOf(std::shared_ptr<html::Document> model)
    {
        std::pair<Bstr, Bstr> out;
        auto object = NewObject();
        InDialog(object, [&] {
            EXPECT_EQ(object->GetData(1, out.first.Out()), S_OK);
            EXPECT_EQ(object->GetData(0, out.second.Out()), S_OK);
        }, CHtmlDocumentObject::Create(std::move(model)));
        return { out.first.Utf8(), out.second.Utf8() };
    }

    // Writes the shell page with the stand-in and `scenario` (run after the
    // shell's own script), renders it, keeps a screenshot under `name` and
    // returns the DOM after `scenario` ran.
    std::string Render(const std::string& name, std::shared_ptr<html::Document> model, const std::string& scenario,
                       const std::string& lang = {})
    {
        auto [script, body] = DialogOf(std::move(model));
        EXPECT_FALSE(script.empty());
        EXPECT_FALSE(body.empty());
        auto shell = resources::FindResource("HTML", resources::kShellPage);
        EXPECT_TRUE(shell);
        std::string page(shell ? shell->bytes : std::string_view());
        const auto head = page.find("</head>");
        const auto end = page.rfind("</body>");
        EXPECT_NE(head, std::string::npos);
        EXPECT_NE(end, std::string::npos);
        if (head == std::string::npos || end == std::string::npos)
            return {};
        page.insert(end, "<pre id=\"qx-calls\"></pre><script>\n" + scenario + "\nrecord('done');\n</script>\n");
        page.insert(head, ExternalStub(script, body, lang));
        const fs::path file = dir / (name + ".html");
        std::ofstream(file, std::ios::binary) << page;
        std::ofstream(artifacts / (name + ".html"), std::ios::binary) << page;

        const std::string common = "timeout -k 5 90 " + chromium
            + " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
              " --disable-component-update --disable-sync --allow-file-access-from-files --hide-scrollbars"
              " --user-data-dir=" + (dir / "profile").string() + " --window-size=980,720 --virtual-time-budget=4000 ";
        const fs::path dom = dir / (name + ".dom");
        const std::string run = common + "--dump-dom --screenshot=" + (artifacts / (name + ".png")).string()
            + " file://" + file.string() + " > " + dom.string() + " 2>/dev/null";
        const int status = std::system(run.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << run;
        return ReadAll(dom);
    }

    // The calls the page made on window.external, one a line.
    static std::string Calls(const std::string& dom)
    {
        const std::string open = "<pre id=\"qx-calls\">";
        const auto start = dom.find(open);
        if (start == std::string::npos)
            return {};
        const auto end = dom.find("</pre>", start);
        return "\n" + dom.substr(start + open.size(), end - start - open.size()) + "\n";
    }

    std::shared_ptr<html::Document> Gallery()
    {
        const std::string pic = "file://" + dir.path().string() + "/";
        auto model = std::make_shared<html::Document>();
        model->URL = "http://site.test/gallery/index.html";
        model->documentElement = std::make_unique<html::Node>();
        model->documentElement->nodeName = "HTML";
        for (auto [src, w, h, size, mime] : { std::tuple<std::string, int, int, const char*, const char*> { pic + "223.gif",
                 21, 19, "180", "GIF Image" }, { pic + "224.gif", 27, 22, "210", "GIF Image" },
                 { "img/fail-me.png", 640, 480, "48213", "PNG Image" },
                 { "http://cdn.test/photo.jpg", 1200, 800, "2411724", "JPEG Image" } }) {
            html::Image image;
            image.complete = true;
            image.src = src;
            image.href = src;
            image.width = w;
            image.height = h;
            image.fileSize = std::string(size);
            image.mimeType = std::string(mime);
            model->images->push_back(std::move(image));
        }
        html::Script inline_;
        inline_.text = std::string("window.dataLayer = window.dataLayer || []; function gtag(){}");
        model->scripts->push_back(std::move(inline_));
        html::Script external;
        external.src = std::string("js/app.js");
        model->scripts->push_back(std::move(external));
        html::StyleSheet sheet;
        sheet.href = std::string("css/site.css");
        sheet.cssText = std::string("body{margin:0}");
        model->styleSheets->push_back(std::move(sheet));
        html::EmbeddedControl flash;
        flash.kind = html::ControlKind::Flash;
        flash.source = std::string("media/intro.swf");
        model->embeddedControls->push_back(std::move(flash));
        return model;
    }

    std::string chromium;
    fs::path artifacts;
};

} // namespace

// Every one of `parts` occurs in `text`.
static void ExpectContains(const std::string& text, std::initializer_list<std::string> parts)
{
    for (const auto& part : parts)
        EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin:\n" << text;
}

TEST_F(DialogRender, SaveHandsOverTheChosenAddressesAndMarksTheOutcome)
{
    const std::string dom = Render("gallery-saved", Gallery(),
        "document.querySelector('.qx-tab[data-kind=scripts]').click();"
        "document.querySelector('[data-action=save]').click();"
        // Marks arrive after the busy state has been painted.
        "setTimeout(function () { record('marked ' + document.querySelectorAll('.qx-saved').length + ' '"
        " + document.querySelectorAll('.qx-failed').length); }, 1500);");
    const std::string calls = Calls(dom);
    ExpectContains(calls, { "\nset RootFolder " + (dir / "docs" / "Grabbed Files").string() + "\n",
        "\nSave http://site.test/gallery/img/fail-me.png pictures\n", "\nSave http://site.test/gallery/js/app.js scripts\n",
        "\nSave http://site.test/gallery/media/intro.swf flash\n", "\nStartDownloading\n", "\nmarked 6 1\n" });
    ExpectContains(dom, { "6 saved, 1 not saved." });
    EXPECT_LT(calls.rfind("\nSave "), calls.find("\nStartDownloading\n")) << "StartDownloading comes after every Save";
}

TEST_F(DialogRender, TurningAKindOffLeavesItOutOfTheSave)
{
    const std::string calls = Calls(Render("gallery-no-pictures", Gallery(),
        "document.querySelector('.qx-option[data-option=GrabImage]').click();"
        "document.querySelector('[data-action=save]').click();"));
    ExpectContains(calls, { "\nset GrabImage false\n", "\nSave http://site.test/gallery/js/app.js scripts\n" });
    EXPECT_EQ(calls.find(" pictures\n"), std::string::npos);
}

TEST_F(DialogRender, DialogScriptStartsAndTakesItsTextsFromTheLanguageFile)
{
    const std::string dom = Render("gallery-german", Gallery(), "document.querySelector('[data-action=language]').click();",
        "<?xml version=\"1.0\"?><lang><text id=\"save\">Speichern</text><text id=\"pictures\">Bilder</text>"
        "<text id=\"summary\">{0} von {1} gew\xC3\xA4hlt</text><text id=\"exit\">&lt;b&gt;Ende</text></lang>");
    const std::string calls = Calls(dom);
    // The dialog script started (BodyOnLoad finished), sized the window, ran
    // the scenario and showed the first kind with resources. Translated texts
    // replace the English ones; a text is text, also when it looks like
    // markup; texts without a translation keep their English form.
    ExpectContains(calls, { "\nSetDlgSize ", "\ndone\n" });
    ExpectContains(dom, { "data-ready=\"1\"", "data-kind=\"pictures\" aria-selected=\"true\"", ">Speichern<", ">Bilder<",
        "7 von 7 gew\xC3\xA4hlt", "&lt;b&gt;Ende", ">Scripts<" });
    // Language in the menu writes every text, translated or not, for the
    // user to translate.
    const auto set = calls.find("\nSetData 0 ");
    ASSERT_NE(set, std::string::npos) << calls;
    EXPECT_GT(std::stoi(calls.substr(set + 11)), 2000);
    ExpectContains(calls, { "\nlang true true true\n" });
    ExpectContains(dom, { "The texts were written to lang.xml in /home/u/.local/share/Danwell/Tovanix" });
}

TEST_F(DialogRender, HostilePageRunsNoScriptInTheDialog)
{
    const std::string m = "\"'><script>alert(1)</script><img src=x onerror=alert(2)><svg onload=alert(3)>";
    auto model = std::make_shared<html::Document>();
    model->URL = "http://evil.test/" + m;
    model->documentElement = std::make_unique<html::Node>();
    model->documentElement->nodeName = "HTML";
    html::Image image;
    image.complete = true;
    image.src = "javascript:alert(4)//" + m;
    image.href = std::string("x");
    image.fileSize = m;
    image.mimeType = m;
    model->images->push_back(image);
    image.src = std::string("http://evil.test/a.gif\" onerror=\"alert(5)");
    model->images->push_back(image);
    html::Script script;
    script.text = "</script><script>alert(6)</script>" + m;
    model->scripts->push_back(script);
    html::StyleSheet sheet;
    sheet.cssText = "</style><img src=x onerror=alert(7)>" + m;
    model->styleSheets->push_back(sheet);
    html::EmbeddedControl control;
    control.kind = html::ControlKind::QuickTime;
    control.source = m;
    model->embeddedControls->push_back(control);
    const std::string dom = Render("hostile", model,
        // Everything a user might click, clicked.
        "document.querySelectorAll('.qx-tab').forEach(function (t) { t.click(); });"
        "document.querySelector('[data-action=save]').click();");
    EXPECT_EQ(dom.find("<title>INJECTED</title>"), std::string::npos);
    // The harmless-looking address with a quote was saved as one address.
    ExpectContains(dom, { "data-ready=\"1\"" });
    ExpectContains(Calls(dom), { "\nSave http://evil.test/a.gif\" onerror=\"alert(5) pictures\n" });
}
