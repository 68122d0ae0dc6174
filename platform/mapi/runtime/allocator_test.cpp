// Tests of the MAPI allocator: chains freed through their head, fault
// injection, and the misuse the allocator must survive.
#include <cstdint>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>
#include <mapix.h>

#include "alloc_fault.h"

namespace {

TEST(AllocatorTest, ChainIsFreedThroughItsHead) {
    const long before = mapi::LiveAllocationChains();
    void* head = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(32, &head), S_OK);
    EXPECT_EQ(mapi::LiveAllocationChains(), before + 1);
    void* more = nullptr;
    ASSERT_EQ(MAPIAllocateMore(100, head, &more), S_OK);
    void* deeper = nullptr;
    // A chained block may itself be the parent; it joins the same chain.
    ASSERT_EQ(MAPIAllocateMore(0, more, &deeper), S_OK);
    for (void* p : {head, more, deeper})
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << "blocks fit any value";
    std::memset(more, 0xAB, 100);
    EXPECT_EQ(mapi::LiveAllocationChains(), before + 1) << "more-blocks are no chains";

    // Freeing a chained block alone would tear the chain: refused.
    EXPECT_EQ(MAPIFreeBuffer(more), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
    EXPECT_EQ(MAPIFreeBuffer(head), static_cast<ULONG>(S_OK));
    EXPECT_EQ(mapi::LiveAllocationChains(), before);
    EXPECT_EQ(MAPIFreeBuffer(nullptr), static_cast<ULONG>(S_OK));
}

TEST(AllocatorTest, RefusesMissingAndForeignParents) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(MAPIAllocateMore(8, nullptr, &out), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(MAPIAllocateBuffer(8, nullptr), MAPI_E_INVALID_PARAMETER);

    // Memory that did not come from the allocator: no chain to join.
    alignas(16) unsigned char foreign[64] = {};
    EXPECT_EQ(MAPIAllocateMore(8, foreign + 32, &out), MAPI_E_INVALID_PARAMETER);
    auto* heap = new unsigned char[64]();
    EXPECT_EQ(MAPIAllocateMore(8, heap + 32, &out), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIFreeBuffer(heap + 32), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
    delete[] heap;
}

TEST(AllocatorTest, CountdownFailsAllocationsOnThisThreadOnly) {
    void* head = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(8, &head), S_OK);
    mapi::SetAllocationFailureCountdown(2);
    void* a = nullptr;
    void* b = nullptr;
    void* c = nullptr;
    EXPECT_EQ(MAPIAllocateMore(8, head, &a), S_OK);
    EXPECT_EQ(MAPIAllocateBuffer(8, &b), S_OK);

    HRESULT other = E_FAIL;
    std::thread([&] {
        void* p = nullptr;
        other = MAPIAllocateBuffer(8, &p);
        MAPIFreeBuffer(p);
    }).join();
    EXPECT_EQ(other, S_OK);

    EXPECT_EQ(MAPIAllocateMore(8, head, &c), MAPI_E_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(c, nullptr);
    void* d = reinterpret_cast<void*>(1);
    EXPECT_EQ(MAPIAllocateBuffer(8, &d), MAPI_E_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(d, nullptr);
    mapi::SetAllocationFailureCountdown(-1);
    EXPECT_EQ(MAPIAllocateMore(8, head, &c), S_OK);
    MAPIFreeBuffer(b);
    MAPIFreeBuffer(head);
}

}  // namespace
