#include "options/AboutPP.h"

#include "module/VersionInfo.h"

namespace {

CDialogModel::Template AboutFrame()
{
    return { "About", 248, 134, "MS Sans Serif 8", true };
}

std::vector<DialogControl> AboutControls()
{
    using K = ControlKind;
    return {
        { 0, K::Icon, 15, 16, 20, 20, "202" },
        { 0, K::Label, 58, 21, 41, 8, "Quillory" },
        { 0, K::Label, 58, 34, 24, 8, "Version" },
        { CAboutPP::IDC_VERSION, K::Label, 84, 34, 41, 8, "VersionPlace" },
        { CAboutPP::IDC_LINK, K::Link, 58, 83, 55, 8, std::string(CAboutPP::kMakerHost) },
        { 0, K::EtchedLine, 7, 105, 234, 1, "" },
        { 0, K::Label, 17, 116, 82, 8, std::string(CAboutPP::kCopyright) },
        { ui::IDCANCEL, K::DefaultButton, 191, 113, 50, 14, "OK" },
    };
}

} // namespace

std::string ModuleVersionText(const std::string& path)
{
    if (path.empty())
        return {};
    auto info = ReadVersionInfo(path);
    return info ? FormatProductVersion(*info) : std::string();
}

CAboutPP::CAboutPP(std::string moduleFile)
    : CDialogModel(AboutFrame(), AboutControls())
    , m_moduleFile(std::move(moduleFile))
{
}

void CAboutPP::OnInitDialog()
{
    // 2. Any failure leaves the label empty; the dialog opens regardless.
    SetText(IDC_VERSION, ModuleVersionText(m_moduleFile));
}

void CAboutPP::OnCommand(int id)
{
    if (id == IDC_LINK) {
        // The link's checked state is its "visited" look.
        if (ui::ActiveView()->ShellOpen(kMakerSite))
            SetChecked(IDC_LINK, true);
        return;
    }
    // OK (id 2), Escape and the close box.
    if (id == ui::IDCANCEL || id == ui::IDOK)
        EndDialog(id);
}
