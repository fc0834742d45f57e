// The dialog's content: the page builder's output, the dialog script, the
// two folders and the language file.
#include "dialog/DialogPageBuilder.h"
#include "dialog/LanguageFile.h"
#include "dialog/Templates.h"
#include "grabber/Folders.h"
#include "grabber/HtmlDocumentObject.h"
#include "grabber/NarrowText.h"
#include "grabber/ResourceAddress.h"
#include "grabber/Tovanix.h"
#include "platform/sys/XdgPaths.h"

#include <filesystem>
#include <new>
#include <optional>
#include <system_error>

namespace {

// The dialog pictures: module resources of type "GIF".
constexpr std::string_view kPictureType = "GIF";
constexpr int kLeftImage = 223;
constexpr int kRightImage = 224;
constexpr int kOkImage = 226;
constexpr int kFailImage = 227;

// GetData indexes.
enum DataIndex : LONG {
    kBody = 0,
    kScript = 1,
    kModuleFolder = 2,
    kUserDataFolder = 3,
    kLanguage = 4,
};

// SetData index of the language file.
constexpr LONG kLanguageFile = 0;

dialog::LanguageFile TheLanguageFile()
{
    return dialog::LanguageFile(ModuleFolder(), UserDataFolder());
}

} // namespace

HRESULT CTovanix::GetData(LONG index, BSTR* pData)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!pData)
        return E_POINTER;
    std::optional<std::string> text;
    try {
        switch (index) {
        case kBody: {
            // Only documents this system made carry a model to read.
            auto model = CHtmlDocumentObject::ModelOf(m_grabDocument.get());
            if (!model)
                break;
            dialog::DialogOptions options;
            options.rootFolder = m_settings.RootFolder;
            options.grabFlash = m_settings.GrabFlash != 0;
            options.grabQT = m_settings.GrabQuickTime != 0;
            options.grabRP = m_settings.GrabRealPlayer != 0;
            options.grabMP = m_settings.GrabMediaPlayer != 0;
            options.grabPictures = m_settings.GrabPictures != 0;
            options.autoClose = m_settings.AutoClose != 0;
            options.selectAll = m_settings.SelectAll != 0;
            options.grabCSS = m_settings.GrabCSS != 0;
            options.grabScript = m_settings.GrabScripts != 0;
            dialog::DialogPictures pictures;
            pictures.left = ResourceAddressFor(kPictureType, kLeftImage);
            pictures.right = ResourceAddressFor(kPictureType, kRightImage);
            pictures.ok = ResourceAddressFor(kPictureType, kOkImage);
            pictures.fail = ResourceAddressFor(kPictureType, kFailImage);
            auto page = dialog::DialogPageBuilder().Build(*model, options, pictures);
            if (!page.body.empty())
                text = std::move(page.body);
            break;
        }
        case kScript:
            text = dialog::LoadTemplate(dialog::Template::DialogScript);
            break;
        case kModuleFolder:
            if (auto folder = ModuleFolder(); !folder.empty())
                text = std::move(folder);
            break;
        case kUserDataFolder: {
            // The application-data folder itself is made when missing, as
            // the shell does for its special folders; the two below it are not.
            std::error_code ec;
            std::filesystem::create_directories(platform::DataHome(), ec);
            text = UserDataFolder();
            break;
        }
        case kLanguage:
            text = TheLanguageFile().Read();
            break;
        default:
            break;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // Whatever could not be produced leaves the caller's value as it was.
    if (text)
        *pData = WideText(*text);
    return S_OK;
}

HRESULT CTovanix::SetData(LONG index, BSTR data)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    // The page learns nothing of the outcome: a language file that cannot
    // be written is no reason to stop the dialog.
    if (index == kLanguageFile)
        (void)TheLanguageFile().Write(BstrView(data));
    return S_OK;
}
