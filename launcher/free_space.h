// The temporary folder and the free space of its drive.
#pragma once

#include <cstddef>

namespace kv {

// Bytes the temporary folder's drive must have free for a run: 10 MB.
constexpr double kRequiredFreeBytes = 10485760.0;

// Writes the temporary folder into `buffer` (MAX_PATH bytes): the
// platform's answer when it begins with a drive letter, a colon and a
// backslash, "C:\" otherwise (call failed, network path).
void GetTemporaryFolder(char* buffer, size_t size);

// Free bytes on `drive` ("C:") available to the calling user:
// GetDiskFreeSpaceExA when kernel32 has it, GetDiskFreeSpaceA otherwise;
// 0 when the query fails.
double GetFreeSpace(const char* drive);

}  // namespace kv
