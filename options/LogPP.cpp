#include "options/LogPP.h"

#include "options/ContextHelp.h"
#include "options/LogValues.h"
#include "platform/registry/Registry.h"

#include <charconv>
#include <limits>

namespace {

// A stored path is read into, and must fit, a buffer of this many bytes
// with its terminating zero.
constexpr std::size_t kPathBuffer = kLogPathBuffer;

CDialogModel::Template OptionsFrame()
{
    return { "Options", 264, 132, "MS Shell Dlg 8", true };
}

std::vector<DialogControl> OptionsControls()
{
    using K = ControlKind;
    std::vector<DialogControl> c {
        { 0, K::GroupBox, 7, 7, 250, 75, "Overall Log" },
        { CLogPP::IDC_ENABLE_OVERALL, K::CheckBox, 16, 21, 52, 10, "Enabled" },
        { 0, K::Label, 16, 42, 34, 8, "File name:" },
        { CLogPP::IDC_LOG_PATH, K::Edit, 50, 38, 155, 14, "" },
        { CLogPP::IDC_BROWSE, K::Button, 209, 38, 39, 14, "Browse..." },
        { 0, K::Label, 16, 60, 30, 8, "Size limit:" },
        { CLogPP::IDC_SIZE_LIMIT, K::Edit, 50, 58, 39, 14, "" },
        { 0, K::Label, 93, 61, 9, 8, "Kb" },
        { CLogPP::IDC_VIEW, K::Button, 209, 58, 39, 14, "View..." },
        { CLogPP::IDC_POSTGRAB, K::CheckBox, 14, 91, 77, 10, "Show Postgrab Log" },
        { ui::IDOK, K::DefaultButton, 81, 111, 50, 14, "OK" },
        { ui::IDCANCEL, K::Button, 137, 111, 50, 14, "Cancel" },
    };
    for (auto& control : c) {
        if (control.id == CLogPP::IDC_SIZE_LIMIT)
            control.input = EditInput::DigitsOnly;
        // A longer path could be stored but never read back.
        if (control.id == CLogPP::IDC_LOG_PATH)
            control.maxLength = kPathBuffer - 1;
    }
    return c;
}

} // namespace

std::int32_t ParseSizeLimit(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return 0;
    // from_chars takes '-' but not '+'; the edit box never produced either
    // beyond a leading minus.
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc {} || end != text.data() + text.size())
        return 0;
    return value;
}

CLogPP::CLogPP(std::string settingsKeyPath, std::string helpPath)
    : CDialogModel(OptionsFrame(), OptionsControls())
    , m_settingsKeyPath(std::move(settingsKeyPath))
    , m_helpPath(std::move(helpPath))
{
    Load();
}

CLogPP::~CLogPP()
{
    if (m_timer)
        ui::MessageLoop::Current().CancelDelayed(*m_timer);
}

void CLogPP::Load()
{
    RegKey key;
    if (key.Create(HKEY_CURRENT_USER, m_settingsKeyPath.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return;
    LogValues values { m_overallLog, m_postGrabLog, m_sizeLimit, m_logPath };
    values.Read(key.get());
    m_overallLog = values.overallLog;
    m_postGrabLog = values.postGrabbingLog;
    m_sizeLimit = values.maxOverallLog;
    m_logPath = std::move(values.overallLogPath);
}

bool CLogPP::Save() const
{
    RegKey key;
    if (key.Create(HKEY_CURRENT_USER, m_settingsKeyPath.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return false;
    LogValues { m_overallLog, m_postGrabLog, m_sizeLimit, m_logPath }.Write(key.get());
    return true;
}

void CLogPP::OnInitDialog()
{
    // 1.
    SetChecked(IDC_ENABLE_OVERALL, m_overallLog);
    SetChecked(IDC_POSTGRAB, m_postGrabLog);
    // 2.
    SetText(IDC_LOG_PATH, m_logPath);
    SetText(IDC_SIZE_LIMIT, std::to_string(m_sizeLimit));
    // 3.
    StartTimer();
    // 4.
    ApplyEnableRule();
}

void CLogPP::StartTimer()
{
    m_timer = ui::MessageLoop::Current().PostDelayed(
        [this] {
            m_timer.reset();
            if (state() != State::Shown && state() != State::Initialising)
                return;
            ApplyEnableRule();
            StartTimer();
        },
        kTimerPeriod);
}

void CLogPP::ApplyEnableRule()
{
    const bool on = IsChecked(IDC_ENABLE_OVERALL);
    for (int id : { IDC_LOG_PATH, IDC_SIZE_LIMIT, IDC_BROWSE, IDC_VIEW })
        Enable(id, on);
}

void CLogPP::OnCommand(int id)
{
    switch (id) {
    case ui::IDOK: OnOK(); break;
    case ui::IDCANCEL: EndDialog(ui::IDCANCEL); break;
    case IDC_BROWSE: OnBrowse(); break;
    case IDC_VIEW: OnView(); break;
    default: break;
    }
}

void CLogPP::OnOK()
{
    // 1.
    m_overallLog = IsChecked(IDC_ENABLE_OVERALL);
    m_postGrabLog = IsChecked(IDC_POSTGRAB);
    m_logPath = Text(IDC_LOG_PATH);
    m_sizeLimit = ParseSizeLimit(Text(IDC_SIZE_LIMIT));
    // 2. A key that cannot be opened writes nothing; 3. the dialog still
    // closes with OK.
    (void)Save();
    EndDialog(ui::IDOK);
}

void CLogPP::OnBrowse()
{
    // The picker starts from the current log path and accepts names of
    // files that do not exist yet: the log is created when first written.
    auto chosen = ui::ActiveView()->OpenFile(this, "Open", kLogFileFilter, m_logPath);
    if (!chosen || chosen->empty())
        return;
    // The default extension: a name typed without one gets ".txt".
    const std::size_t slash = chosen->rfind('/');
    const std::size_t dot = chosen->rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        *chosen += ".txt";
    m_logPath = std::move(*chosen);
    SetText(IDC_LOG_PATH, m_logPath);
}

void CLogPP::OnView()
{
    // The path loaded or browsed to, not what was typed since: typed text
    // counts only from OK on. The shell's failures are not reported.
    (void)ui::ActiveView()->ShellOpen(m_logPath);
}

void CLogPP::OnDestroy()
{
    if (m_timer) {
        ui::MessageLoop::Current().CancelDelayed(*m_timer);
        m_timer.reset();
    }
}

std::optional<std::string> CLogPP::OnHelp(int id)
{
    for (const auto& pair : kHelpIds) {
        if (pair.controlId == 0)
            break;
        if (pair.controlId == id)
            return ContextHelpText(m_helpPath, pair.helpId);
    }
    return std::nullopt;
}
