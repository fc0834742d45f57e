// ComObject / DispatchObject: the reference counting and interface lookup
// that this system's own COM objects share.
#include "platform/com/ComObject.h"

#include "platform/com/ComPtr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr IID TestIid(unsigned char last)
{
    return MakeGuid(0x6D0C4C1E, 0x2B7A, 0x4F4B, 0x9E, 0x38, 0x5A, 0x1F, 0x3C, 0x2B, 0x7D, last);
}
inline constexpr IID IID_ITestDispatch = TestIid(1);
inline constexpr IID IID_ITestSide = TestIid(2);
inline constexpr IID IID_INobody = TestIid(3);

class ITestDispatch : public IDispatch {
public:
    static constexpr const IID& iid = IID_ITestDispatch;
    virtual int Kind() = 0;

protected:
    ~ITestDispatch() = default;
};

class ITestSide : public IUnknown {
public:
    static constexpr const IID& iid = IID_ITestSide;

protected:
    ~ITestSide() = default;
};

// Counts its destruction into `destroyed`.
template <class Base>
class Counted : public Base {
public:
    explicit Counted(std::atomic<int>& destroyed) : m_destroyed(destroyed) { }
    ~Counted() override { ++m_destroyed; }

private:
    std::atomic<int>& m_destroyed;
};

// The side interface is listed first, so that identity and IDispatch differ.
class CSideFirst final : public Counted<DispatchObject<ITestSide, ITestDispatch>> {
public:
    using Counted::Counted;
    int Kind() override { return 2; }
    HRESULT GetIDsOfNames(REFIID, OLECHAR**, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

class CPlain final : public Counted<ComObject<ITestSide>> {
public:
    using Counted::Counted;
};

template <class T>
ComPtr<ITestSide> Make(std::atomic<int>& destroyed)
{
    return ComPtr<ITestSide>::Attach(new T(destroyed));
}

IUnknown* Identity(IUnknown* object)
{
    IUnknown* unknown = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    if (unknown)
        unknown->Release();
    return unknown;
}

} // namespace

TEST(ComObject, EveryListedInterfaceAnswersAllShareOneIdentityAndDispatchHasNoTypeInformation)
{
    std::atomic<int> destroyed { 0 };
    ComPtr<ITestSide> side = Make<CSideFirst>(destroyed);
    auto dispatchable = side.As<ITestDispatch>();
    auto dispatch = side.As<IDispatch>();
    ASSERT_TRUE(dispatchable && dispatch);
    EXPECT_EQ(dispatchable->Kind(), 2);
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(static_cast<IDispatch*>(dispatchable.get())))
        << "IDispatch must be the dispatch interface, not the first one listed";
    EXPECT_EQ(Identity(side.get()), Identity(dispatchable.get()));
    EXPECT_EQ(Identity(dispatch.get()), Identity(side.get()));
    EXPECT_EQ(static_cast<void*>(Identity(side.get())), static_cast<void*>(side.get()))
        << "the identity is the first interface listed";

    UINT count = 7;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(destroyed.load(), 0);
}

TEST(ComObject, CountsEveryReferenceRefusedLookupsTakeNoneAndTheLastReleaseDestroysOnce)
{
    std::atomic<int> destroyed { 0 };
    ITestSide* raw = Make<CSideFirst>(destroyed).Detach();
    EXPECT_EQ(raw->AddRef(), 2u);
    void* other = nullptr;
    ASSERT_EQ(raw->QueryInterface(IID_ITestDispatch, &other), S_OK);
    EXPECT_EQ(raw->Release(), 2u);
    EXPECT_EQ(static_cast<ITestDispatch*>(other)->Release(), 1u);
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_EQ(destroyed.load(), 1);

    ITestSide* plain = Make<CPlain>(destroyed).Detach();
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(plain->QueryInterface(IID_INobody, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(plain->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE) << "no dispatch interface is listed";
    EXPECT_EQ(plain->QueryInterface(IID_ITestSide, nullptr), E_POINTER);
    EXPECT_EQ(plain->Release(), 0u);
    EXPECT_EQ(destroyed.load(), 2);
}

TEST(ComObject, ReferencesTakenAndDroppedOnManyThreadsDestroyExactlyOnce)
{
    std::atomic<int> destroyed { 0 };
    ComPtr<ITestSide> side = Make<CSideFirst>(destroyed);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([raw = side.get()] {
            for (int i = 0; i < 10000; ++i) {
                raw->AddRef();
                raw->Release();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(destroyed.load(), 0);
    side = {};
    EXPECT_EQ(destroyed.load(), 1);
}
