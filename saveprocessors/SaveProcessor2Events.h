#pragma once
// Listener of one save processor. Every default body does nothing, so a
// client overrides only what it shows.
//
// Thread: OnStarted, OnPaused, OnResumed and the errors of Start and
// SaveToFolder arrive on the thread that drives the processor; OnProgress,
// OnCompleted, OnError, OnTrace and OnFinished from the job arrive on the
// processor's worker thread. An implementation must therefore be callable
// from any thread and must not block for long (post, don't draw).
#include <cstdint>
#include <string_view>

namespace QVSaveProcessors {

class CSaveProcessor2;

class CSaveProcessor2Events {
public:
    virtual ~CSaveProcessor2Events() = default;

    // Reserved notification with one value; no processor sends it.
    virtual void OnNotify(CSaveProcessor2* processor, std::int32_t value)
    {
        (void)processor, (void)value;
    }
    // `bytes` were just written to the target file.
    virtual void OnProgress(CSaveProcessor2* processor, std::uint32_t bytes)
    {
        (void)processor, (void)bytes;
    }
    // The whole resource was saved.
    virtual void OnCompleted(CSaveProcessor2* processor) { (void)processor; }
    virtual void OnPaused(CSaveProcessor2* processor) { (void)processor; }
    virtual void OnResumed(CSaveProcessor2* processor) { (void)processor; }
    // The worker is about to end, whatever the outcome.
    virtual void OnFinished(CSaveProcessor2* processor) { (void)processor; }
    virtual void OnError(CSaveProcessor2* processor, std::string_view message)
    {
        (void)processor, (void)message;
    }
    // A diagnostic line.
    virtual void OnTrace(CSaveProcessor2* processor, std::string_view message)
    {
        (void)processor, (void)message;
    }
    // The target file was created at `targetPath`.
    virtual void OnStarted(CSaveProcessor2* processor, std::string_view targetPath)
    {
        (void)processor, (void)targetPath;
    }
};

} // namespace QVSaveProcessors
