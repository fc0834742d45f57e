#include "options/DialogModel.h"

#include <algorithm>
#include <utility>

std::string_view to_string(ControlKind kind)
{
    switch (kind) {
    case ControlKind::GroupBox: return "groupbox";
    case ControlKind::CheckBox: return "checkbox";
    case ControlKind::Label: return "label";
    case ControlKind::Edit: return "edit";
    case ControlKind::Button: return "button";
    case ControlKind::DefaultButton: return "defbutton";
    case ControlKind::Link: return "link";
    case ControlKind::EtchedLine: return "etched";
    case ControlKind::Icon: return "icon";
    }
    return "label";
}

namespace {

// The longest prefix of `text` that fits `limit` bytes without splitting a
// UTF-8 sequence.
std::string_view FitUtf8(std::string_view text, std::size_t limit)
{
    if (limit == 0 || text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

CDialogModel::CDialogModel(Template frame, std::vector<DialogControl> controls)
    : m_template(std::move(frame))
    , m_controls(std::move(controls))
{
}

const DialogControl* CDialogModel::Control(int id) const
{
    if (id == 0)
        return nullptr;
    auto it = std::find_if(m_controls.begin(), m_controls.end(), [id](const DialogControl& c) { return c.id == id; });
    return it == m_controls.end() ? nullptr : &*it;
}

DialogControl* CDialogModel::MutableControl(int id)
{
    return const_cast<DialogControl*>(std::as_const(*this).Control(id));
}

void CDialogModel::SetText(int id, std::string text)
{
    if (auto* c = MutableControl(id)) {
        if (c->kind == ControlKind::Edit)
            text = std::string(FitUtf8(text, c->maxLength));
        if (c->text != text) {
            c->text = std::move(text);
            Touch();
        }
    }
}

std::string CDialogModel::Text(int id) const
{
    const auto* c = Control(id);
    return c ? c->text : std::string();
}

void CDialogModel::SetChecked(int id, bool checked)
{
    if (auto* c = MutableControl(id); c && c->checked != checked) {
        c->checked = checked;
        Touch();
    }
}

bool CDialogModel::IsChecked(int id) const
{
    const auto* c = Control(id);
    return c && c->checked;
}

void CDialogModel::Enable(int id, bool enabled)
{
    if (auto* c = MutableControl(id); c && c->enabled != enabled) {
        c->enabled = enabled;
        Touch();
    }
}

bool CDialogModel::IsEnabled(int id) const
{
    const auto* c = Control(id);
    return c && c->enabled;
}

bool CDialogModel::UserTypes(int id, std::string_view text)
{
    auto* c = MutableControl(id);
    if (!c || c->kind != ControlKind::Edit || !c->enabled || state() != State::Shown)
        return false;
    if (c->input == EditInput::DigitsOnly
        && !std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return false;
    DismissPopup();
    SetText(id, std::string(text));
    Touch();
    return true;
}

bool CDialogModel::UserClicks(int id)
{
    auto* c = MutableControl(id);
    if (!c || !c->enabled || state() != State::Shown)
        return false;
    switch (c->kind) {
    case ControlKind::CheckBox:
        DismissPopup();
        SetChecked(id, !c->checked);
        OnCommand(id);
        return true;
    case ControlKind::Button:
    case ControlKind::DefaultButton:
    case ControlKind::Link:
        DismissPopup();
        Touch();
        OnCommand(id);
        return true;
    default:
        return false;
    }
}

void CDialogModel::UserAsksHelp(int id)
{
    if (!Control(id) || state() != State::Shown)
        return;
    if (auto text = OnHelp(id)) {
        m_popup = HelpPopup { id, std::move(*text) };
        Touch();
    }
}
