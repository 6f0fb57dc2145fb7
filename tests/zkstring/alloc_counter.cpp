#include "tests/zkstring/alloc_counter.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Each allocation: [16-byte prefix holding the size][block][8 guard bytes].
// The prefix keeps blocks 16-byte aligned, as the runtime's own are at least
// 8-byte aligned.
constexpr std::size_t kPrefix = 16;
constexpr unsigned char kGuard[8] = {0xFD, 0xFD, 0xFD, 0xFD, 0xFD, 0xFD, 0xFD, 0xFD};
constexpr unsigned char kFreshFill = 0xCD;
constexpr unsigned char kFreedFill = 0xDD;

zk_test::AllocCounts g_counts;
long g_damaged = 0;

unsigned char* PrefixOf(const void* block) {
  return static_cast<unsigned char*>(const_cast<void*>(block)) - kPrefix;
}

std::size_t SizeOf(const void* block) {
  std::size_t size;
  std::memcpy(&size, PrefixOf(block), sizeof size);
  return size;
}

void* Allocate(std::size_t size) {
  unsigned char* raw = static_cast<unsigned char*>(std::malloc(kPrefix + size + sizeof kGuard));
  if (raw == nullptr) return nullptr;
  std::memcpy(raw, &size, sizeof size);
  unsigned char* block = raw + kPrefix;
  std::memset(block, kFreshFill, size);
  std::memcpy(block + size, kGuard, sizeof kGuard);
  ++g_counts.news;
  return block;
}

void Free(void* block) {
  if (block == nullptr) return;
  ++g_counts.deletes;
  if (!zk_test::GuardIntact(block)) ++g_damaged;
  std::memset(block, kFreedFill, SizeOf(block));  // what is read after the free is no text
  std::free(PrefixOf(block));
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

namespace zk_test {

AllocCounts CurrentAllocCounts() { return g_counts; }
long DamagedBlocks() { return g_damaged; }

bool GuardIntact(const void* block) {
  const unsigned char* end = static_cast<const unsigned char*>(block) + SizeOf(block);
  return std::memcmp(end, kGuard, sizeof kGuard) == 0;
}

}  // namespace zk_test

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
