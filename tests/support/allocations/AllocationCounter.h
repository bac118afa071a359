#pragma once
// Counts the allocations a thread makes, so that a test or a benchmark can show that a path
// allocates nothing. Only programs that compile AllocationCounter.cpp in count: it replaces every
// form of the global operator new and delete (all on malloc and free, so that the pairs stay
// consistent for AddressSanitizer too).
namespace testsupport {

// Allocations made so far by the calling thread through any form of the global operator new.
long allocationsOnThisThread();

}  // namespace testsupport
