#pragma once
// The grab dialog: a modal window whose only content is a hosted browser
// that opens the module's shell page with the grabber object as the page's
// window.external. The dialog has no logic of its own beyond hosting; the
// active view (ui::IView) presents the browser area.
//
// Thread: UI only (the grabber object's thread).
#include "platform/com/ComPtr.h"
#include "platform/ui/Dialog.h"

#include <optional>
#include <string>

class CTovanix;

class CTovanixDialog final : public ui::Dialog {
public:
    // Dialog resource 105 and the shell page, HTML resource 215.
    static constexpr int kDialogResource = 105;
    static constexpr int kShellPageResource = 215;
    // Size of dialog 105 (462 x 286 dialog units in "MS Sans Serif" 8,
    // whose dialog base units are 6 x 13 pixels), and the caption.
    static constexpr int kInitialWidth = 462 * 6 / 4;
    static constexpr int kInitialHeight = 286 * 13 / 8;
    static constexpr const char* kCaption = "Vornel Quillory";
    // The hosted browser is this much smaller than the window each way.
    static constexpr int kBrowserMargin = 20;

    // The hosted browser of one showing.
    struct BrowserHost {
        int width = 0;
        int height = 0;
        // Where the browser was navigated: "res://<module file>/215"; empty
        // when the module's file name could not be found.
        std::string address;
        // The page's window.external: the owner's ITovanix.
        ComPtr<IDispatch> external;
        // Document host flags given through the ambient properties.
        unsigned hostFlags = 0;
        bool contextMenu = true;
    };

    std::string_view Name() const override { return "grab"; }

    // The grabber object that shows the dialog; set by the grab run before
    // each showing.
    void SetOwner(CTovanix* owner) { m_owner = owner; }
    CTovanix* Owner() const { return m_owner; }

    // The browser host of the current showing; nothing when not shown.
    const std::optional<BrowserHost>& Browser() const { return m_browser; }

    // The address the shell page is opened at, for a module file.
    static std::string ShellPageAddress(const std::string& moduleFile);

protected:
    void OnInitDialog() override;
    void OnSize(int width, int height) override;
    void OnDestroy() override;

private:
    CTovanix* m_owner = nullptr;
    std::optional<BrowserHost> m_browser;
};
