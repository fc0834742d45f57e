#pragma once
// A dialog made of controls: the state of a dialog template's controls
// (check boxes, edit boxes, buttons, labels) kept in the dialog object, so
// that any view can present it and tests can drive it by control id.
//
// Positions are in dialog units, as in the templates; views scale them.
//
// Thread: UI only (the dialog's thread). Views on other threads reach the
// dialog through PostToWindow / MessageLoop::Send.
#include "platform/ui/Dialog.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ControlKind {
    GroupBox,
    CheckBox,
    Label,
    Edit,
    Button,
    DefaultButton,
    Link,
    EtchedLine,
    Icon,
};

[[nodiscard]] std::string_view to_string(ControlKind kind);

// Input rule of an edit box.
enum class EditInput {
    Any,
    DigitsOnly, // ES_NUMBER: typed characters other than 0-9 are refused
};

struct DialogControl {
    int id = 0; // 0 for static controls without an id
    ControlKind kind = ControlKind::Label;
    int x = 0, y = 0, width = 0, height = 0;
    std::string text;
    bool checked = false;
    bool enabled = true;
    EditInput input = EditInput::Any;
    std::size_t maxLength = 0; // edit boxes: longest text in bytes, 0 = no limit
};

// The pop-up text shown for a control's help request.
struct HelpPopup {
    int controlId = 0;
    std::string text;
};

class CDialogModel : public ui::Dialog {
public:
    struct Template {
        std::string caption;
        int width = 0, height = 0; // dialog units
        std::string font;
        bool contextHelpButton = false;
    };

    [[nodiscard]] const Template& Frame() const { return m_template; }
    [[nodiscard]] const std::vector<DialogControl>& Controls() const { return m_controls; }
    [[nodiscard]] const DialogControl* Control(int id) const;

    // Control state as the dialog code reads and writes it
    // (GetDlgItemText, CheckDlgButton, EnableWindow, ...). Unknown ids do
    // nothing and read as empty / unchecked / disabled.
    void SetText(int id, std::string text);
    [[nodiscard]] std::string Text(int id) const;
    void SetChecked(int id, bool checked);
    [[nodiscard]] bool IsChecked(int id) const;
    void Enable(int id, bool enabled);
    [[nodiscard]] bool IsEnabled(int id) const;

    // What a user does, as a view reports it. Disabled controls take no
    // input. False when the input was refused.
    //
    // Typing replaces the text of an edit box; a digits-only box refuses
    // text with anything but 0-9 in it (pasted text goes through SetText,
    // as WM_PASTE bypasses ES_NUMBER).
    bool UserTypes(int id, std::string_view text);
    // A click on a check box toggles it (an automatic check box), on a
    // button or link sends its command.
    bool UserClicks(int id);
    // F1 on a control, or the caption's help button and then a click on it.
    // Requests for anything but a control with an id are ignored.
    void UserAsksHelp(int id);

    // The pop-up help being shown, if any; a new request replaces it, any
    // other input dismisses it.
    [[nodiscard]] const std::optional<HelpPopup>& Popup() const { return m_popup; }
    void DismissPopup()
    {
        if (m_popup) {
            m_popup.reset();
            Touch();
        }
    }

    // Changes each time a control's state or the pop-up changes, so that a
    // view polling from elsewhere knows when to redraw.
    [[nodiscard]] std::uint64_t Revision() const { return m_revision; }

protected:
    CDialogModel(Template frame, std::vector<DialogControl> controls);

    // WM_HELP for a control with an id; the default shows nothing.
    virtual std::optional<std::string> OnHelp(int id)
    {
        (void)id;
        return std::nullopt;
    }

    DialogControl* MutableControl(int id);

private:
    void Touch() { ++m_revision; }

    Template m_template;
    std::vector<DialogControl> m_controls;
    std::optional<HelpPopup> m_popup;
    std::uint64_t m_revision = 1;
};
