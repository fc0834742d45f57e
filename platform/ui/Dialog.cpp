#include "platform/ui/Dialog.h"

#include "platform/ui/View.h"

namespace ui {

namespace {
thread_local Dialog* t_active = nullptr;
}

Dialog::~Dialog() = default;

Dialog* Dialog::ActiveOnThisThread()
{
    return t_active;
}

int Dialog::DoModal()
{
    if (m_state != State::NotShown)
        return -1;
    {
        std::lock_guard lock(m_windowMutex);
        m_loop = MessageLoop::CurrentRef();
        m_window = std::make_shared<Window>(Window { this });
    }
    auto& loop = *MessageLoop::CurrentRef();
    m_ended = false;
    m_result = 0;
    m_outer = t_active;
    t_active = this;
    auto view = ActiveView();

    // Whatever happens inside, the window goes and the thread's active
    // dialog is restored, so a failed showing never leaves a dialog that
    // looks open.
    struct Teardown {
        Dialog& d;
        IView& view;
        bool shown = false;
        ~Teardown()
        {
            d.transition_to(State::Closing);
            if (shown)
                view.DialogClosed(d);
            d.OnDestroy();
            {
                std::lock_guard lock(d.m_windowMutex);
                d.m_window.reset();
            }
            t_active = d.m_outer;
            d.m_outer = nullptr;
            d.transition_to(State::NotShown);
        }
    } teardown { *this, *view };

    transition_to(State::Initialising);
    OnInitDialog();
    if (!m_ended) {
        transition_to(State::Shown);
        teardown.shown = true;
        view->DialogShown(*this);
        loop.RunUntil([this] { return m_ended; });
    }
    return m_result;
}

void Dialog::EndDialog(int result)
{
    if (m_state != State::Initialising && m_state != State::Shown)
        return;
    m_result = result;
    m_ended = true;
    transition_to(State::Closing);
}

void Dialog::OnCommand(int id)
{
    if (id == IDCANCEL)
        EndDialog(IDCANCEL);
}

bool Dialog::PostToWindow(std::function<void(Dialog&)> handler)
{
    std::weak_ptr<Window> window;
    std::shared_ptr<MessageLoop> loop;
    {
        std::lock_guard lock(m_windowMutex);
        window = m_window;
        loop = m_loop;
    }
    if (!loop || window.expired())
        return false;
    return loop->Post([window, handler = std::move(handler)] {
        if (auto w = window.lock())
            handler(*w->dialog);
    });
}

bool Dialog::PostClose()
{
    return PostToWindow([](Dialog& d) {
        if (d.m_state == State::Initialising || d.m_state == State::Shown)
            d.OnClose();
    });
}

bool Dialog::PostCommand(int id)
{
    return PostToWindow([id](Dialog& d) {
        if (d.m_state == State::Initialising || d.m_state == State::Shown)
            d.OnCommand(id);
    });
}

void Dialog::SetSize(int width, int height)
{
    if (!HasWindow())
        return;
    m_width = width;
    m_height = height;
    OnSize(width, height);
    if (m_state == State::Shown)
        ActiveView()->DialogResized(*this);
}

} // namespace ui
