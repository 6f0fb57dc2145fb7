#include "pe/pe_checksum.h"

#include <algorithm>

namespace kv {

std::uint64_t WordSum(std::uint64_t offset, const std::uint8_t* p, std::size_t n) {
  // A byte at an even offset is a word's low byte, at an odd one its high
  // byte.
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  std::size_t i = 0;
  if (n != 0 && (offset & 1) != 0) high += p[i++];
  for (; i + 1 < n; i += 2) {
    low += p[i];
    high += p[i + 1];
  }
  if (i < n) low += p[i];
  return low + (high << 8);
}

std::uint32_t FoldChecksum(std::uint64_t wordSum, std::uint64_t fileSize) {
  // Adding 16-bit words with end-around carry and folding once at the end
  // gives the same sum as folding after every word.
  while (wordSum >> 16) wordSum = (wordSum & 0xFFFF) + (wordSum >> 16);
  return static_cast<std::uint32_t>(wordSum + fileSize);
}

std::uint32_t PeChecksum(const std::vector<std::uint8_t>& file, std::size_t checksumOffset) {
  std::uint32_t checksum = 0;
  PeChecksum(file.data(), file.size(), checksumOffset, nullptr, &checksum);
  return checksum;
}

bool PeChecksum(const std::uint8_t* file, std::size_t size, std::size_t checksumOffset,
                const PieceLender& lend, std::uint32_t* checksum) {
  constexpr std::size_t kPiece = 64u << 20;
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < size; at += kPiece) {
    const std::size_t count = std::min(kPiece, size - at);
    const std::uint8_t* piece = Borrow(lend, file + at, count);
    if (piece == nullptr) return false;
    sum += WordSum(at, piece, count);
  }
  // The CheckSum field itself counts as zero.
  if (checksumOffset + 4 <= size) sum -= WordSum(checksumOffset, file + checksumOffset, 4);
  *checksum = FoldChecksum(sum, size);
  return true;
}

}  // namespace kv
