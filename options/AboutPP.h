#pragma once
// CAboutPP: the about dialog (template 210) with the product's name, the
// module's product version and a link to the maker's web site.
//
// Thread: UI only.
#include "options/DialogModel.h"

#include <string>
#include <string_view>

class CAboutPP final : public CDialogModel {
public:
    static constexpr int IDC_VERSION = 263;
    static constexpr int IDC_LINK = 221;
    static constexpr std::string_view kMakerHost = "www.vornel.com";
    static constexpr std::string_view kMakerSite = "http://www.vornel.com/";
    static constexpr std::string_view kCopyright = "Copyright (C) 2003-2005 Vornel";

    // `moduleFile`: the module whose version record is shown (the file
    // holding the caller's code).
    explicit CAboutPP(std::string moduleFile);

    std::string_view Name() const override { return "about"; }

    // True once the link has been opened: the link shows as visited.
    [[nodiscard]] bool LinkVisited() const { return IsChecked(IDC_LINK); }

protected:
    void OnInitDialog() override;
    void OnCommand(int id) override;

private:
    std::string m_moduleFile;
};

// The product version of the module file at `path` as "%d.%d.%d.%d";
// empty when the file cannot be read or carries no version record.
[[nodiscard]] std::string ModuleVersionText(const std::string& path);
