#pragma once
// A page's document as the COM object the grab entry points receive: an
// IHTMLDocument2 over the in-memory document model (platform/html). Page
// loaders fill the model; the host wraps it with Create and hands it to
// Grab or returns it from its browser's get_Document. Discovery reaches the
// model again through ModelOf.
//
// Thread: any; one object per document, used by one thread at a time.
#include "grabber/BrowserInterfaces.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/html/HtmlDocument.h"

#include <memory>

// {F6878CF2-988A-485C-B967-673CEC8E6DA5}: the model behind a document
// object; private to this system, never answered by a foreign document.
inline constexpr IID IID_IHtmlDocumentModel = MakeGuid(0xF6878CF2, 0x988A, 0x485C, 0xB9, 0x67, 0x67, 0x3C, 0xEC, 0x8E, 0x6D, 0xA5);

class IHtmlDocumentModel : public IUnknown {
public:
    static constexpr const IID& iid = IID_IHtmlDocumentModel;
    virtual std::shared_ptr<const html::Document> Model() const = 0;

protected:
    ~IHtmlDocumentModel() = default;
};

// Dispatch identifier of IHTMLDocument2's URL property.
inline constexpr DISPID DISPID_IHTMLDOCUMENT2_URL = 1025;

class CHtmlDocumentObject final : public DispatchObject<IHTMLDocument2, IHtmlDocumentModel> {
public:
    // A new object over `model` (which must not be null).
    static ComPtr<IHTMLDocument2> Create(std::shared_ptr<const html::Document> model);
    // The model behind any object this system made; null for anything else.
    static std::shared_ptr<const html::Document> ModelOf(IUnknown* object);

    // Knows "URL" (any letter case).
    HRESULT GetIDsOfNames(REFIID riid, OLECHAR** rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // The document's address after redirects.
    HRESULT get_URL(BSTR* p) override;

    std::shared_ptr<const html::Document> Model() const override { return m_model; }

private:
    explicit CHtmlDocumentObject(std::shared_ptr<const html::Document> model) : m_model(std::move(model)) { }
    ~CHtmlDocumentObject() override = default;

    std::shared_ptr<const html::Document> m_model;
};
