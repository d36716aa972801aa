#include "platform/com/unknown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/com/tests/test_plugin.h"

namespace {

int g_destroyed = 0;

struct IUnrelated : IUnknown {
    static constexpr GUID kIid = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F00FF}");
    using Base = IUnknown;
};

class Counter : public quil::ComImpl<INamedCounter, IResettable> {
public:
    ~Counter() override { ++g_destroyed; }
    HRESULT Increment(LONG* value) override {
        *value = ++count_;
        return S_OK;
    }
    HRESULT Name(const char** name) override {
        *name = "counter";
        return S_OK;
    }
    HRESULT Reset() override {
        count_ = 0;
        return S_OK;
    }

private:
    LONG count_ = 0;
};

// A part living inside its owner, as a pin inside a filter.
class Part : public quil::ComImpl<IResettable> {
public:
    explicit Part(UnknownBase* owner) : ComImpl(owner) {}
    HRESULT Reset() override { return S_OK; }
};

class Whole : public quil::ComImpl<ICounter> {
public:
    Whole() : part_(this) {}
    ~Whole() override { ++g_destroyed; }
    HRESULT Increment(LONG* value) override {
        *value = 0;
        return S_OK;
    }
    IResettable* part() { return &part_; }

private:
    Part part_;
};

class ComTest : public ::testing::Test {
protected:
    void SetUp() override { g_destroyed = 0; }
};

TEST_F(ComTest, QueryInterfaceAnswersEveryAncestor) {
    auto counter = quil::MakeCom<Counter>();
    EXPECT_EQ(counter->RefCount(), 1u);

    auto named = quil::QueryAs<INamedCounter>(counter.Get());
    auto base = quil::QueryAs<ICounter>(counter.Get());
    auto resettable = quil::QueryAs<IResettable>(counter.Get());
    ASSERT_TRUE(named && base && resettable);
    EXPECT_EQ(counter->RefCount(), 4u);
    EXPECT_EQ(static_cast<ICounter*>(named.Get()), base.Get());

    // Every interface gives the same IUnknown: that is how identity is compared.
    auto fromNamed = quil::QueryAs<IUnknown>(named.Get());
    auto fromResettable = quil::QueryAs<IUnknown>(resettable.Get());
    EXPECT_EQ(fromNamed.Get(), fromResettable.Get());

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(counter->QueryInterface(IUnrelated::kIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(counter->QueryInterface(IUnknown::kIid, nullptr), E_POINTER);
    EXPECT_EQ(counter->QueryInterface(ICounter::kIid, nullptr), E_POINTER);
    EXPECT_FALSE(quil::QueryAs<ICounter>(static_cast<ICounter*>(nullptr)));

    LONG value = 0;
    named->Increment(&value);
    base->Increment(&value);
    EXPECT_EQ(value, 2);
}

TEST_F(ComTest, ComPtrHoldsExactlyOneReference) {
    auto counter = quil::MakeCom<Counter>();
    Counter* raw = counter.Get();
    {
        quil::ComPtr<Counter> copy = counter;
        EXPECT_EQ(raw->RefCount(), 2u);
        quil::ComPtr<Counter> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(raw->RefCount(), 2u);
        quil::ComPtr<INamedCounter> widened = moved;  // converting copy adds one
        EXPECT_EQ(raw->RefCount(), 3u);
        moved = nullptr;
        EXPECT_EQ(raw->RefCount(), 2u);
        widened = widened;  // self-assignment keeps the reference
        EXPECT_EQ(raw->RefCount(), 2u);
    }
    EXPECT_EQ(raw->RefCount(), 1u);

    quil::ComPtr<ICounter> slot = quil::QueryAs<ICounter>(raw);
    EXPECT_EQ(raw->RefCount(), 2u);
    EXPECT_EQ(raw->QueryInterface(ICounter::kIid, reinterpret_cast<void**>(slot.Put())), S_OK);
    EXPECT_EQ(raw->RefCount(), 2u);  // Put released the old reference first

    ICounter* detached = slot.Detach();
    EXPECT_EQ(raw->RefCount(), 2u);
    auto adopted = quil::ComPtr<ICounter>::Adopt(detached);
    EXPECT_EQ(raw->RefCount(), 2u);
    adopted.Reset();
    EXPECT_EQ(raw->RefCount(), 1u);

    // Asking a pointer for its own type through itself keeps the object alive.
    quil::ComPtr<ICounter> self = quil::QueryAs<ICounter>(raw);
    counter = nullptr;
    EXPECT_EQ(self.As(&self), S_OK);
    ASSERT_TRUE(self);
    EXPECT_EQ(g_destroyed, 0);
    self = nullptr;
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ComTest, AsAndIidPpvArgs) {
    auto counter = quil::MakeCom<Counter>();
    quil::ComPtr<IResettable> resettable;
    EXPECT_EQ(counter.As(&resettable), S_OK);
    EXPECT_TRUE(resettable);
    EXPECT_TRUE(counter.As<INamedCounter>());

    ICounter* raw = nullptr;
    ASSERT_EQ(counter->QueryInterface(IID_PPV_ARGS(&raw)), S_OK);
    ASSERT_NE(raw, nullptr);
    raw->Release();
    EXPECT_EQ(counter->RefCount(), 2u);
}

TEST_F(ComTest, PartsShareTheirOwnersCount) {
    auto whole = quil::MakeCom<Whole>();
    IResettable* part = whole->part();
    part->AddRef();
    EXPECT_EQ(whole->RefCount(), 2u);
    EXPECT_EQ(static_cast<Part*>(part)->RefCount(), 2u);
    whole = nullptr;
    EXPECT_EQ(g_destroyed, 0);  // the part's reference keeps the whole alive
    part->Release();
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ComTest, ReferenceCountingIsThreadSafe) {
    auto counter = quil::MakeCom<Counter>();
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                quil::ComPtr<ICounter> copy = quil::QueryAs<ICounter>(counter.Get());
            }
        });
    }
    threads.clear();
    EXPECT_EQ(counter->RefCount(), 1u);
    counter = nullptr;
    EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
