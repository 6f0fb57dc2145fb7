// The string tests replace the global allocation operators of their
// executable: every block is counted, filled with a pattern when it is handed
// out (so no code can rely on zeroed memory) and with another when it is
// freed (so text read from a freed block is garbage), and followed by guard
// bytes that are checked when it is freed, so a write past the end of a block
// shows up.
#pragma once

namespace zk_test {

struct AllocCounts {
  long news = 0;     // successful calls of any operator new
  long deletes = 0;  // calls of any operator delete with a non-null pointer
};

AllocCounts CurrentAllocCounts();

// Blocks freed with damaged guard bytes since the program started.
long DamagedBlocks();

// Whether the guard bytes behind a live block, given by the address that
// operator new returned, are intact.
bool GuardIntact(const void* block);

// Counts the allocations and deallocations made while it lives.
class AllocationWatch {
 public:
  AllocationWatch() : start_(CurrentAllocCounts()) {}
  long News() const { return CurrentAllocCounts().news - start_.news; }
  long Deletes() const { return CurrentAllocCounts().deletes - start_.deletes; }

 private:
  AllocCounts start_;
};

}  // namespace zk_test
