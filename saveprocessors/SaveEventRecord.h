#pragma once
// What a save processor reported, carried from the reporting thread to the
// progress dialog's thread. One record is allocated per event by the
// reporter and owned by the dialog's queue until the dialog has handled it
// (or has closed: then it is freed unhandled).
//
// Thread: built on any thread, handed over whole, read on the dialog's.
#include <cstdint>
#include <string>

namespace QVSaveProcessors {

class CSaveProcessor2;

enum class SaveEventKind : std::int32_t {
    Progress = 0,  // count: bytes just written
    Completed = 1,
    Started = 2,   // text: the target path
    Error = 3,     // text: the message
    // The job is over, whatever its outcome: its worker is ending, or it
    // never got one (Start failed). Changes no text; lets views tell when
    // every row has reached its final state.
    Finished = 4,
};

struct SaveEventRecord {
    std::uint32_t count = 0;
    std::string text;
    SaveEventKind kind = SaveEventKind::Progress;
    CSaveProcessor2* processor = nullptr;
};

} // namespace QVSaveProcessors
