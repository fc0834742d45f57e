#pragma once
// The bundled sample site served from this process on two loopback
// origins, as the demo needs it: the main origin serves the site with
// every @OTHER_ORIGIN@ in its .html, .htm and .css files replaced by the
// second origin's address; the second origin serves the same files (the
// site's cross-origin resources). Only files below the site's folder are
// served; both listeners stop with the object.
//
// Thread: construct, Start and destroy on one thread; the listeners run on
// threads of their own.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace host {

class SampleSiteServer {
public:
    explicit SampleSiteServer(std::filesystem::path root);
    ~SampleSiteServer();
    SampleSiteServer(const SampleSiteServer&) = delete;
    SampleSiteServer& operator=(const SampleSiteServer&) = delete;

    // False when a listener could not be bound.
    [[nodiscard]] bool Start();
    // "http://127.0.0.1:PORT" of the main origin (with Start done).
    [[nodiscard]] std::string MainOrigin() const;
    [[nodiscard]] std::string OtherOrigin() const;

    // The folder of the sample site: $QUILLORY_SAMPLE_SITE, else a
    // "sample/site" (or "share/quillory/sample/site") found in the
    // program's folder or up to four folders above it.
    [[nodiscard]] static std::optional<std::filesystem::path> Find();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace host
