#pragma once
// Save processor for the eight known URL schemes: `file` URLs are copied
// with the file system's copy, everything else is downloaded through
// platform/inet in reads of at most 1,024 bytes, each read being one unit
// between checkpoints (stop test, pause wait).
//
// A job reports completion only when the whole resource is in the target
// file: the transfer ended cleanly (every announced byte arrived), every
// write succeeded and the file closed without error. Otherwise the row says
// why ("Cannot open URL: ...", "Download incomplete: ...", "Cannot write to
// file '...': ..."); a stop ends the job silently without completion.
//
// Thread: as CSaveProcessor2 (driving thread; Process on the worker).
#include "saveprocessors/SaveProcessor2.h"

#include <cstddef>
#include <string>

namespace QVSaveProcessors {

struct UrlParts;

class CInternetFileProcessor final : public CSaveProcessor2 {
public:
    // Size of one read, and so the distance between two checkpoints.
    static constexpr std::size_t kBlockSize = 1024;
    // Agent string of the downloads.
    static constexpr const char* kAgent = "Vornel QVSaveProcessors";

    // Reads are small; the file is written in batches of this size (what
    // is held is written before completion, and when the job ends).
    static constexpr std::size_t kWriteBufferSize = 64 * 1024;

    CInternetFileProcessor();
    ~CInternetFileProcessor() override;

protected:
    void Process() override;

private:
    void CopyFile(const UrlParts& parts);
    void Download();
};

} // namespace QVSaveProcessors
