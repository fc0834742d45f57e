#pragma once
// CLogPP: the options dialog for the log settings ("OverallLog",
// "OverallLogPath", "MaxOverallLog", "PostGrabbingLog" under the settings
// key). It reads them once, when constructed, and writes them once, on OK.
//
// Thread: UI only.
#include "options/DialogModel.h"
#include "platform/ui/MessageLoop.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CLogPP final : public CDialogModel {
public:
    // Control ids of dialog template 209.
    static constexpr int IDC_ENABLE_OVERALL = 210;
    static constexpr int IDC_POSTGRAB = 215;
    static constexpr int IDC_SIZE_LIMIT = 216;
    static constexpr int IDC_VIEW = 217;
    static constexpr int IDC_LOG_PATH = 218;
    static constexpr int IDC_BROWSE = 219;
    static constexpr int kTimerId = 1;
    static constexpr std::chrono::milliseconds kTimerPeriod { 500 };
    static constexpr std::string_view kLogFileFilter = "Text File (*.txt)|*.txt";

    // Control id -> help id, ended by a zero control id (the form the help
    // function takes).
    struct HelpIdPair {
        int controlId;
        int helpId;
    };
    static constexpr std::array<HelpIdPair, 7> kHelpIds { {
        { 210, 1009 }, { 218, 1010 }, { 216, 1011 }, { 215, 1012 }, { 217, 1013 }, { 219, 1014 }, { 0, 0 } } };

    // Reads the four values from `settingsKeyPath` under the current user
    // (the key is created when missing). `helpPath` is the help file the
    // context help reads its pop-up texts from.
    CLogPP(std::string settingsKeyPath, std::string helpPath);
    ~CLogPP() override;

    std::string_view Name() const override { return "options"; }

    // The fields, in the dialog class's order.
    [[nodiscard]] const std::string& LogPath() const { return m_logPath; }
    [[nodiscard]] bool OverallLog() const { return m_overallLog; }
    [[nodiscard]] std::int32_t SizeLimit() const { return m_sizeLimit; }
    [[nodiscard]] bool PostGrabLog() const { return m_postGrabLog; }

protected:
    void OnInitDialog() override;
    void OnCommand(int id) override;
    void OnDestroy() override;
    std::optional<std::string> OnHelp(int id) override;

private:
    void Load();
    bool Save() const;
    void ApplyEnableRule();
    void StartTimer();
    void OnOK();
    void OnBrowse();
    void OnView();

    std::string m_settingsKeyPath;
    std::string m_helpPath;

    std::string m_logPath;
    bool m_overallLog = false;
    std::int32_t m_sizeLimit = 500;
    bool m_postGrabLog = true;

    std::optional<ui::MessageLoop::TimerId> m_timer;
};

// The size limit box's text as GetDlgItemInt reads it, signed: optional
// surrounding blanks, an optional '-', decimal digits, within the 32-bit
// range. Anything else reads as 0.
[[nodiscard]] std::int32_t ParseSizeLimit(std::string_view text);
