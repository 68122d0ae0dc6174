// The MAPI allocator: chains of blocks freed together.
//
// Each block carries a hidden header in front of the memory handed out. A
// chain's head links every block allocated "more" to it, so freeing the head
// frees all of them. The header keeps the user memory 16-byte aligned so any
// property value fits.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

#include <mapix.h>

#include "alloc_fault.h"

namespace {

constexpr uint32_t kHeadMagic = 0x48504D41;  // marks a chain head
constexpr uint32_t kMoreMagic = 0x4D504D41;  // marks a block chained to a head

struct alignas(16) BlockHeader {
    BlockHeader* next;  // next block of the chain (heads and more-blocks alike)
    uint32_t magic;
    uint32_t reserved;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "user memory must stay 16-byte aligned");

thread_local long t_failCountdown = -1;
std::atomic<long> g_liveChains{0};

bool ShouldFail() {
    if (t_failCountdown < 0) return false;
    if (t_failCountdown == 0) return true;
    --t_failCountdown;
    return false;
}

BlockHeader* HeaderOf(void* user) {
    return reinterpret_cast<BlockHeader*>(static_cast<char*>(user) - sizeof(BlockHeader));
}

void* NewBlock(ULONG cbSize, uint32_t magic) {
    if (ShouldFail()) return nullptr;
    void* raw = std::malloc(sizeof(BlockHeader) + (cbSize == 0 ? 1 : cbSize));
    if (raw == nullptr) return nullptr;
    auto* header = new (raw) BlockHeader{nullptr, magic, 0};
    return header + 1;
}

}  // namespace

namespace mapi {

void SetAllocationFailureCountdown(long n) {
    t_failCountdown = n;
}
long LiveAllocationChains() {
    return g_liveChains.load();
}

}  // namespace mapi

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = NewBlock(cbSize, kHeadMagic);
    if (*lppBuffer == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
    ++g_liveChains;
    return S_OK;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (lpObject == nullptr) return MAPI_E_INVALID_PARAMETER;
    BlockHeader* parent = HeaderOf(lpObject);
    // A "more" block may itself be given as parent; its chain is its head's.
    if (parent->magic != kHeadMagic && parent->magic != kMoreMagic) return MAPI_E_INVALID_PARAMETER;
    void* user = NewBlock(cbSize, kMoreMagic);
    if (user == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* block = HeaderOf(user);
    block->next = parent->next;
    parent->next = block;
    *lppBuffer = user;
    return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    if (lpBuffer == nullptr) return S_OK;
    BlockHeader* head = HeaderOf(lpBuffer);
    if (head->magic != kHeadMagic) {
        // Freeing a chained block alone is the caller's mistake; freeing it
        // would corrupt the chain, so leave it to its head.
        return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    }
    BlockHeader* block = head;
    while (block != nullptr) {
        BlockHeader* next = block->next;
        block->magic = 0;
        std::free(block);
        block = next;
    }
    --g_liveChains;
    return S_OK;
}
