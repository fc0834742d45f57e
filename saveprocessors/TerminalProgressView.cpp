#include "saveprocessors/TerminalProgressView.h"

#include "saveprocessors/SavingUrlsDialog.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace QVSaveProcessors {

namespace {

using Clock = std::chrono::steady_clock;
using Dialog = CSavingUrlsDialog;

volatile std::sig_atomic_t g_interruptRequested = 0;
struct sigaction g_previousAction {};

extern "C" void OnInterruptSignal(int)
{
    g_interruptRequested = 1;
}

// Control bytes (ESC above all) become '?': the text came from the network.
std::string Printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    return out;
}

// At most `columns` characters (UTF-8 sequences counted as one), never
// cutting a sequence, so a line never wraps and the cursor arithmetic of the
// live region holds.
std::string Fit(const std::string& line, int columns)
{
    if (columns <= 0)
        return {};
    int count = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80)
            continue;
        if (count == columns)
            return line.substr(0, i);
        ++count;
    }
    return line;
}

std::string PadLeft(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

void WriteAll(int fd, const std::string& text)
{
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the terminal went away; the downloads go on regardless
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

} // namespace

TerminalProgressView::TerminalProgressView(Options options)
    : m_options(options)
    , m_style(options.style)
{
    if (m_style == Style::Auto)
        m_style = ::isatty(options.fd) ? Style::Live : Style::Lines;
}

TerminalProgressView::~TerminalProgressView()
{
    if (m_handlerInstalled)
        ::sigaction(SIGINT, &g_previousAction, nullptr);
}

void TerminalProgressView::Opened(CSavingUrlsDialog& dialog)
{
    m_dialog = &dialog;
    m_closeRequested = false;
    m_interrupted = false;
    m_printed.clear();
    m_toPrint.clear();
    m_lastProgressLine.clear();
    m_liveLines = 0;
    if (m_options.closeOnInterrupt == CloseOnInterrupt::Yes && !m_handlerInstalled) {
        g_interruptRequested = 0;
        struct sigaction action {};
        action.sa_handler = &OnInterruptSignal;
        sigemptyset(&action.sa_mask);
        // A second Ctrl-C, while the stop is under way, ends the process.
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        m_handlerInstalled = ::sigaction(SIGINT, &action, &g_previousAction) == 0;
    }
    m_out += std::string(Dialog::kCaption) + " " + std::to_string(dialog.m_urls.size()) + " URL(s) into "
        + Printable(dialog.m_rootFolder) + "\n";
    ArmTimer();
}

void TerminalProgressView::ArmTimer()
{
    m_timer = ui::MessageLoop::Current().PostDelayed([this] { Tick(); }, m_options.redrawInterval);
}

void TerminalProgressView::Tick()
{
    m_timer = 0;
    if (!m_dialog)
        return;
    if (g_interruptRequested && !m_interrupted && m_handlerInstalled) {
        m_interrupted = true;
        if (m_style == Style::Lines)
            m_out += "Interrupted: stopping every download\n";
        if (!m_closeRequested) {
            m_closeRequested = true;
            m_dialog->PostClose();
        }
    }
    if (m_style == Style::Live && m_dirty)
        Draw(false);
    Flush();
    ArmTimer();
}

void TerminalProgressView::RowInserted(std::size_t row)
{
    if (m_printed.size() <= row) {
        m_printed.resize(row + 1, false);
        m_lastProgressLine.resize(row + 1, Clock::time_point {});
    }
    m_dirty = true;
}

void TerminalProgressView::CellChanged(std::size_t row, int column)
{
    m_dirty = true;
    if (m_style != Style::Lines)
        return;
    const std::string url = Printable(m_dialog->CellText(row, Dialog::ColumnUrl));
    switch (column) {
    case Dialog::ColumnFile:
        m_out += url + ": saving to " + Printable(m_dialog->CellText(row, Dialog::ColumnFile)) + "\n";
        break;
    case Dialog::ColumnStatus: {
        std::string line = url + ": " + Printable(m_dialog->CellText(row, Dialog::ColumnStatus));
        const std::string& ratio = m_dialog->CellText(row, Dialog::ColumnRatio);
        if (!ratio.empty())
            line += " (" + ratio + ")";
        m_out += line + "\n";
        break;
    }
    case Dialog::ColumnRatio: {
        const Clock::time_point now = Clock::now();
        if (now - m_lastProgressLine[row] >= m_options.progressLineInterval) {
            m_lastProgressLine[row] = now;
            m_out += url + ": " + m_dialog->CellText(row, Dialog::ColumnRatio) + "\n";
        }
        break;
    }
    default:
        break;
    }
}

void TerminalProgressView::RowFinished(std::size_t row)
{
    m_toPrint.push_back(row);
    m_dirty = true;
}

void TerminalProgressView::EventsHandled()
{
    if (m_style == Style::Live && m_dirty && Clock::now() - m_lastDraw >= m_options.redrawInterval)
        Draw(false);
    Flush();
    CheckClose();
}

void TerminalProgressView::CheckClose()
{
    if (m_closeRequested || m_options.closeWhenDone != CloseWhenDone::Yes || !m_dialog->AllRowsFinished())
        return;
    m_closeRequested = true;
    m_dialog->PostCommand(ui::IDOK);
}

std::string TerminalProgressView::RowName(std::size_t row) const
{
    const std::string& file = m_dialog->CellText(row, Dialog::ColumnFile);
    const bool named = !file.empty() && file != "URL analyse...";
    return Printable(named ? file : m_dialog->CellText(row, Dialog::ColumnUrl));
}

std::string TerminalProgressView::FinalLine(std::size_t row, bool stopped) const
{
    const std::string& status = m_dialog->CellText(row, Dialog::ColumnStatus);
    const std::string& ratio = m_dialog->CellText(row, Dialog::ColumnRatio);
    std::string line = stopped ? std::string("Stopped") : Printable(status);
    if (!ratio.empty())
        line += "  " + ratio;
    line += "  " + RowName(row);
    if (status.rfind("Error: ", 0) == 0 && RowName(row) != Printable(m_dialog->CellText(row, Dialog::ColumnUrl)))
        line += "  (" + Printable(m_dialog->CellText(row, Dialog::ColumnUrl)) + ")";
    return line;
}

std::string TerminalProgressView::LiveLine(std::size_t row) const
{
    const std::string& ratio = m_dialog->CellText(row, Dialog::ColumnRatio);
    return "  " + PadLeft(ratio.empty() ? "-" : ratio, 14) + "  " + Printable(m_dialog->CellText(row, Dialog::ColumnStatus))
        + "  " + RowName(row);
}

void TerminalProgressView::TerminalSize(int& width, int& height) const
{
    width = m_options.width;
    height = m_options.height;
    winsize size {};
    if ((width <= 0 || height <= 0) && ::ioctl(m_options.fd, TIOCGWINSZ, &size) == 0) {
        if (width <= 0)
            width = size.ws_col;
        if (height <= 0)
            height = size.ws_row;
    }
    if (width <= 0)
        width = 80;
    if (height <= 0)
        height = 24;
}

void TerminalProgressView::Draw(bool final)
{
    int width = 0;
    int height = 0;
    TerminalSize(width, height);

    // 1. Back to the top of the live region and clear it.
    if (m_liveLines > 0)
        m_out += "\x1b[" + std::to_string(m_liveLines) + "F\x1b[J";
    m_liveLines = 0;

    // 2. Rows that finished since the last draw become permanent lines
    // (they may wrap: nothing is drawn over them again).
    for (std::size_t row : m_toPrint) {
        if (!m_printed[row]) {
            m_printed[row] = true;
            m_out += FinalLine(row, false) + "\n";
        }
    }
    m_toPrint.clear();

    // 3. The rows still running: all of them at the end, else as many as fit.
    std::size_t running = 0;
    std::size_t finished = 0;
    const std::size_t rows = m_dialog->RowCount();
    const int room = std::max(1, height - 2);
    for (std::size_t row = 0; row < rows; ++row) {
        if (m_printed[row]) {
            ++finished;
            continue;
        }
        if (final) {
            m_printed[row] = true;
            m_out += FinalLine(row, !m_dialog->IsRowFinished(row)) + "\n";
            continue;
        }
        if (static_cast<int>(running) < room - 1) {
            m_out += Fit(LiveLine(row), width - 1) + "\n";
            ++m_liveLines;
        }
        ++running;
    }
    if (!final) {
        const std::size_t shown = static_cast<std::size_t>(m_liveLines);
        std::string summary = std::to_string(finished) + "/" + std::to_string(rows) + " finished";
        if (running > shown)
            summary += ", " + std::to_string(running - shown) + " more running";
        m_out += Fit(summary, width - 1) + "\n";
        ++m_liveLines;
    }
    m_dirty = false;
    m_lastDraw = Clock::now();
    ++m_redraws;
}

void TerminalProgressView::Flush()
{
    if (m_out.empty())
        return;
    WriteAll(m_options.fd, m_out);
    m_out.clear();
}

void TerminalProgressView::Closed()
{
    if (m_timer)
        ui::MessageLoop::Current().CancelDelayed(m_timer);
    m_timer = 0;
    if (m_style == Style::Live) {
        Draw(true);
    } else {
        for (std::size_t row = 0; row < m_dialog->RowCount(); ++row) {
            if (m_dialog->IsRowFinished(row))
                continue;
            std::string line = Printable(m_dialog->CellText(row, Dialog::ColumnUrl)) + ": Stopped";
            const std::string& ratio = m_dialog->CellText(row, Dialog::ColumnRatio);
            if (!ratio.empty())
                line += " (" + ratio + ")";
            m_out += line + "\n";
        }
    }
    Flush();
    if (m_handlerInstalled) {
        ::sigaction(SIGINT, &g_previousAction, nullptr);
        m_handlerInstalled = false;
    }
    m_dialog = nullptr;
}

} // namespace QVSaveProcessors
