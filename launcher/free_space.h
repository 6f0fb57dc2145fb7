// The free space of the temporary folder's drive.
#pragma once

namespace kv {

// Bytes the temporary folder's drive must have free for a run: 10 MB.
constexpr double kRequiredFreeBytes = 10485760.0;

// Free bytes on `drive` ("C:") available to the calling user:
// GetDiskFreeSpaceExA when kernel32 has it, GetDiskFreeSpaceA otherwise;
// 0 when the query fails.
double GetFreeSpace(const char* drive);

}  // namespace kv
