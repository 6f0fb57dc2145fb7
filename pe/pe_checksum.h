// The CheckSum of a PE image file, as the system's CheckSumMappedFile
// computes it: the 16-bit one's-complement-style sum of every little-endian
// word of the file (the CheckSum field itself counted as 0, an odd last byte
// as a word of its own), folded to 16 bits, plus the file's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes/byte_pieces.h"

namespace kv {

// What `count` bytes at file offset `offset` add to the sum of a file's
// 16-bit little-endian words (a byte at an even offset is a word's low
// byte, one at an odd offset its high byte). Sums of pieces add up to the
// sum of the whole.
std::uint64_t WordSum(std::uint64_t offset, const std::uint8_t* data, std::size_t count);

// The PE checksum from the sum of a file's words (its CheckSum field
// counted as 0) and the file's length: the sum folded to 16 bits with
// end-around carry, plus the length.
std::uint32_t FoldChecksum(std::uint64_t wordSum, std::uint64_t fileSize);

// The PE checksum of an image file whose CheckSum field is at
// checksumOffset.
std::uint32_t PeChecksum(const std::vector<std::uint8_t>& file, std::size_t checksumOffset);
// The same over file[0, size), read in pieces of 64 MiB borrowed from lend
// (when given). False when a piece cannot be had.
bool PeChecksum(const std::uint8_t* file, std::size_t size, std::size_t checksumOffset,
                const PieceLender& lend, std::uint32_t* checksum);

}  // namespace kv
