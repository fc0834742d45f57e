#include "platform/ui/View.h"

#include "platform/ui/Dialog.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace ui {

namespace {

// Used when no host has installed a view (a library loaded by some other
// program): nobody can answer, so boxes go to standard error and dialogs
// close as if the user had pressed Escape, rather than waiting forever.
class HeadlessView final : public IView {
public:
    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override
    {
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
            static_cast<int>(text.size()), text.data());
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : ((type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK);
    }
    void DialogShown(Dialog& dialog) override { dialog.PostClose(); }
    void DialogClosed(Dialog&) override { }
};

// The view is installed once by the host, but objects on any thread read
// it; a lock keeps the shared_ptr copy whole.
std::mutex g_viewMutex;
std::shared_ptr<IView> g_view;

} // namespace

void SetActiveView(std::shared_ptr<IView> view)
{
    std::shared_ptr<IView> old;
    std::lock_guard lock(g_viewMutex);
    old = std::exchange(g_view, std::move(view));
}

std::shared_ptr<IView> ActiveView()
{
    {
        std::lock_guard lock(g_viewMutex);
        if (g_view)
            return g_view;
    }
    static const auto headless = std::make_shared<HeadlessView>();
    return headless;
}

int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type)
{
    return ActiveView()->MessageBox(text, caption, type);
}

} // namespace ui
