// ComObject / DispatchObject: the reference counting and interface lookup
// that this system's own COM objects share.
#include "platform/com/ComObject.h"

#include "platform/com/ComPtr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// {6D0C4C1E-2B7A-4F4B-9E38-5A1F3C2B7D01}
inline constexpr IID IID_ITestDispatch = MakeGuid(0x6D0C4C1E, 0x2B7A, 0x4F4B, 0x9E, 0x38, 0x5A, 0x1F, 0x3C, 0x2B, 0x7D, 0x01);
// {6D0C4C1E-2B7A-4F4B-9E38-5A1F3C2B7D02}
inline constexpr IID IID_ITestSide = MakeGuid(0x6D0C4C1E, 0x2B7A, 0x4F4B, 0x9E, 0x38, 0x5A, 0x1F, 0x3C, 0x2B, 0x7D, 0x02);
// {6D0C4C1E-2B7A-4F4B-9E38-5A1F3C2B7D03}: nobody implements it.
inline constexpr IID IID_INobody = MakeGuid(0x6D0C4C1E, 0x2B7A, 0x4F4B, 0x9E, 0x38, 0x5A, 0x1F, 0x3C, 0x2B, 0x7D, 0x03);

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
    virtual int Side() = 0;

protected:
    ~ITestSide() = default;
};

// A side interface listed first, so that identity and IDispatch differ.
class CSideFirst final : public DispatchObject<ITestSide, ITestDispatch> {
public:
    static ComPtr<ITestSide> Create(std::atomic<int>& destroyed)
    {
        return ComPtr<ITestSide>::Attach(new CSideFirst(destroyed));
    }
    int Side() override { return 1; }
    int Kind() override { return 2; }
    HRESULT GetIDsOfNames(REFIID, OLECHAR**, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

private:
    explicit CSideFirst(std::atomic<int>& destroyed) : m_destroyed(destroyed) { }
    ~CSideFirst() override { ++m_destroyed; }
    std::atomic<int>& m_destroyed;
};

class CPlain final : public ComObject<ITestSide> {
public:
    static ComPtr<ITestSide> Create(std::atomic<int>& destroyed) { return ComPtr<ITestSide>::Attach(new CPlain(destroyed)); }
    int Side() override { return 3; }

private:
    explicit CPlain(std::atomic<int>& destroyed) : m_destroyed(destroyed) { }
    ~CPlain() override { ++m_destroyed; }
    std::atomic<int>& m_destroyed;
};

IUnknown* Identity(IUnknown* object)
{
    IUnknown* unknown = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    if (unknown)
        unknown->Release();
    return unknown;
}

} // namespace

TEST(ComObject, EveryListedInterfaceAnswersAndAllShareOneIdentity)
{
    std::atomic<int> destroyed { 0 };
    ComPtr<ITestSide> side = CSideFirst::Create(destroyed);
    ASSERT_TRUE(side);
    auto dispatchable = side.As<ITestDispatch>();
    ASSERT_TRUE(dispatchable);
    EXPECT_EQ(dispatchable->Kind(), 2);
    auto dispatch = side.As<IDispatch>();
    ASSERT_TRUE(dispatch);
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(static_cast<IDispatch*>(dispatchable.get())))
        << "IDispatch must be the dispatch interface, not the first one listed";
    // COM identity: IUnknown from any interface is the same pointer.
    EXPECT_EQ(Identity(side.get()), Identity(dispatchable.get()));
    EXPECT_EQ(Identity(dispatch.get()), Identity(side.get()));
    EXPECT_EQ(static_cast<void*>(Identity(side.get())), static_cast<void*>(side.get()))
        << "the identity is the first interface listed";
    EXPECT_EQ(destroyed.load(), 0);
}

TEST(ComObject, UnknownInterfacesAndMissingOutPointersAreRefusedWithoutACount)
{
    std::atomic<int> destroyed { 0 };
    ComPtr<ITestSide> side = CPlain::Create(destroyed);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(side->QueryInterface(IID_INobody, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(side->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE) << "no dispatch interface is listed";
    EXPECT_EQ(side->QueryInterface(IID_ITestSide, nullptr), E_POINTER);
    // No failed lookup took a reference: one Release ends the object.
    ITestSide* raw = side.Detach();
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(ComObject, CountsEveryReferenceAndTheLastReleaseDestroysOnce)
{
    std::atomic<int> destroyed { 0 };
    ITestSide* raw = CSideFirst::Create(destroyed).Detach();
    EXPECT_EQ(raw->AddRef(), 2u);
    void* other = nullptr;
    ASSERT_EQ(raw->QueryInterface(IID_ITestDispatch, &other), S_OK);
    EXPECT_EQ(raw->Release(), 2u);
    EXPECT_EQ(static_cast<ITestDispatch*>(other)->Release(), 1u);
    EXPECT_EQ(destroyed.load(), 0);
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(ComObject, ReferencesTakenAndDroppedOnManyThreadsDestroyExactlyOnce)
{
    std::atomic<int> destroyed { 0 };
    ComPtr<ITestSide> side = CSideFirst::Create(destroyed);
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

TEST(DispatchObject, HasNoTypeInformation)
{
    std::atomic<int> destroyed { 0 };
    auto dispatch = CSideFirst::Create(destroyed).As<IDispatch>();
    ASSERT_TRUE(dispatch);
    UINT count = 7;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
}
