#include "discovery/ResourceDocument.h"

#include "discovery/CSSExtractor.h"
#include "discovery/ComError.h"
#include "discovery/DomExtractor.h"
#include "discovery/FlashesExtractor.h"
#include "discovery/FrameProcessor.h"
#include "discovery/ImagesExtractor.h"
#include "discovery/MediaPlayerExtractor.h"
#include "discovery/ObjectsExtractor.h"
#include "discovery/QuickTimeExtractor.h"
#include "discovery/RealPlayerExtractor.h"
#include "discovery/SAXFrameSrcProcessor.h"
#include "discovery/ScriptsExtractor.h"

#include <new>

namespace QVXMLInfoExtractors {

ResourceDocumentResult BuildResourceDocument(const html::Document& page)
{
    ResourceDocumentResult result;
    try {
        // 1. The frame processor, for frames and iframes.
        CFrameProcessor frames(CFrameProcessor::kFrames | CFrameProcessor::kIFrames);
        // 2. Its members; the group orders them by kind.
        CImagesExtractor images;
        CCSSExtractor css;
        CScriptsExtractor scripts;
        CDomExtractor dom;
        CObjectsExtractor objects;
        frames.AddExtractor(&images);
        frames.AddExtractor(&css);
        frames.AddExtractor(&scripts);
        frames.AddExtractor(&dom);
        frames.AddExtractor(&objects);
        // 3. The control processors, handed over as one set.
        CFlashesExtractor flashes;
        CQuickTimeExtractor quickTime;
        CRealPlayerExtractor realPlayer;
        CMediaPlayerExtractor mediaPlayer;
        ControlProcessorSet controls;
        controls.Insert(&flashes);
        controls.Insert(&quickTime);
        controls.Insert(&realPlayer);
        controls.Insert(&mediaPlayer);
        objects.SetObjectProcessors(controls);
        // 4. The run over the page and, recursively, its frames.
        frames.Process(page);
        // 5. The frame processor's document is the resource document.
        result.text = frames.GetXml();
    } catch (const ComError& e) {
        result.text.clear();
        result.hr = e.hr();
        result.error = e.what();
    } catch (const std::bad_alloc&) {
        result.text.clear();
        result.hr = E_OUTOFMEMORY;
        result.error = "out of memory";
    }
    return result;
}

std::string FilterFrameSources(std::string_view resourceXml)
{
    CSAXFrameSrcProcessor filter;
    (void)filter.Filter(resourceXml);
    return filter.GetResult();
}

} // namespace QVXMLInfoExtractors
