// Fault injection for the MAPI allocator, for tests of failure paths.
#pragma once

namespace mapi {

// After n more successful allocations, every MAPIAllocateBuffer and
// MAPIAllocateMore fails with MAPI_E_NOT_ENOUGH_MEMORY; a negative n turns
// failures off. Applies to the calling thread only.
void SetAllocationFailureCountdown(long n);

// Number of allocation chains currently alive (heads not yet freed), across
// all threads; tests use it to prove that nothing leaked.
long LiveAllocationChains();

}  // namespace mapi
