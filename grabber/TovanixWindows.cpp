// The secondary windows the page opens: options, about and help.
#include "grabber/Tovanix.h"

#include "options/AboutPP.h"
#include "options/HelpLauncher.h"
#include "options/LogPP.h"
#include "platform/sys/XdgPaths.h"

namespace {

// The file this code was loaded from: the module when a host loaded it.
std::string OwnModuleFile()
{
    static const int anchor = 0;
    return platform::ModuleFileOf(&anchor).string();
}

} // namespace

HRESULT CTovanix::ShowHelp()
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    // Whether or not a viewer could be started.
    (void)ShowHelpTopic(::HelpPath(), DetectChmViewer());
    return S_OK;
}

HRESULT CTovanix::ShowOptions()
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    CLogPP options(LoadModuleString(kIdsSettingsKey), ::HelpPath());
    (void)options.DoModal();
    return S_OK;
}

HRESULT CTovanix::ShowAbout()
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    CAboutPP about(OwnModuleFile());
    (void)about.DoModal();
    return S_OK;
}
