#pragma once
// The progress list on a terminal, for `quillory fetch` and `quillory grab
// --batch`.
//
// On a terminal (Style::Live) finished rows scroll up as permanent lines and
// the rows still running are redrawn in place below them with ANSI cursor
// movement, at most once per redraw interval however many events arrive.
// Otherwise (Style::Lines: a pipe, a file, a log) every change that matters
// is one plain line, progress at most once a second per row.
//
// Texts from the network (URLs, server messages) are printed with control
// characters replaced, so a hostile page cannot drive the terminal.
//
// Closing is the command's choice, given in the options: when every row has
// finished, and/or on Ctrl-C (SIGINT; a second Ctrl-C ends the process as
// usual).
//
// Thread: the dialog's thread only.
#include "platform/ui/MessageLoop.h"
#include "saveprocessors/SavingUrlsView.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace QVSaveProcessors {

class TerminalProgressView final : public ISavingUrlsView {
public:
    enum class Style { Auto, Live, Lines }; // Auto: Live when the descriptor is a terminal
    enum class CloseWhenDone { No, Yes };
    enum class CloseOnInterrupt { No, Yes };

    struct Options {
        int fd = 1;
        Style style = Style::Auto;
        CloseWhenDone closeWhenDone = CloseWhenDone::No;
        CloseOnInterrupt closeOnInterrupt = CloseOnInterrupt::No;
        std::chrono::milliseconds redrawInterval { 100 };
        std::chrono::milliseconds progressLineInterval { 1000 };
        // Terminal size; 0 asks the terminal (80 x 24 when it cannot say).
        int width = 0;
        int height = 0;
    };

    explicit TerminalProgressView(Options options);
    ~TerminalProgressView() override;

    // How often the live table was drawn.
    [[nodiscard]] std::size_t Redraws() const { return m_redraws; }
    // Whether Ctrl-C closed the dialog.
    [[nodiscard]] bool Interrupted() const { return m_interrupted; }
    [[nodiscard]] Style EffectiveStyle() const { return m_style; }

    void Opened(CSavingUrlsDialog& dialog) override;
    void RowInserted(std::size_t row) override;
    void CellChanged(std::size_t row, int column) override;
    void RowFinished(std::size_t row) override;
    void EventsHandled() override;
    void Closed() override;

private:
    void Tick();
    void ArmTimer();
    void CheckClose();
    void Draw(bool final);
    void Flush();
    [[nodiscard]] std::string RowName(std::size_t row) const;
    [[nodiscard]] std::string FinalLine(std::size_t row, bool stopped) const;
    [[nodiscard]] std::string LiveLine(std::size_t row) const;
    void TerminalSize(int& width, int& height) const;

    Options m_options;
    Style m_style;
    CSavingUrlsDialog* m_dialog = nullptr;
    ui::MessageLoop::TimerId m_timer = 0;
    bool m_closeRequested = false;
    bool m_interrupted = false;
    bool m_handlerInstalled = false;

    // Live style.
    std::vector<bool> m_printed;          // row written as a permanent line
    std::vector<std::size_t> m_toPrint;   // finished since the last draw
    int m_liveLines = 0;                  // lines of the in-place region on screen
    bool m_dirty = false;
    std::chrono::steady_clock::time_point m_lastDraw {};
    std::size_t m_redraws = 0;

    // Lines style.
    std::vector<std::chrono::steady_clock::time_point> m_lastProgressLine;

    std::string m_out; // written at the end of each batch
};

} // namespace QVSaveProcessors
