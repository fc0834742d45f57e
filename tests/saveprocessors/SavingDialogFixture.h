#pragma once
// The saving dialog run modally on the test thread against the loopback
// HTTP server: the scripted window view accepts the "saving" dialog, the
// list view (scripted or the terminal table) is the test's to choose.
#include "platform/ui/ScriptedView.h"
#include "saveprocessors/SavingUrlsDialog.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/LoopbackHttpTest.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class SavingDialogTest : public LoopbackHttpTest {
protected:
    void SetUp() override
    {
        LoopbackHttpTest::SetUp();
        // The list view decides when to close; the window itself stays.
        m_uiView = std::make_shared<ui::ScriptedView>();
        m_uiView->OnDialog("saving", [](ui::Dialog&) { });
        ui::SetActiveView(m_uiView);
        dialog.m_rootFolder = root.path().string();
    }
    void TearDown() override
    {
        ui::SetActiveView(nullptr);
        LoopbackHttpTest::TearDown();
    }

    // Gives the dialog `view` and returns it for the test to drive.
    template <class View>
    View& Attach(std::unique_ptr<View> view)
    {
        View& ref = *view;
        dialog.SetView(std::move(view));
        return ref;
    }

    // Row index of `url` (rows are in byte order of the URLs).
    std::size_t RowOf(const std::string& url) const
    {
        return static_cast<std::size_t>(std::distance(dialog.m_urls.begin(), dialog.m_urls.find(url)));
    }

    static bool Contains(const std::vector<std::string>& texts, const std::string& text)
    {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    TempDir root;
    QVSaveProcessors::CSavingUrlsDialog dialog;

private:
    std::shared_ptr<ui::ScriptedView> m_uiView;
};

} // namespace testsupport
