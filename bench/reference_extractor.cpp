// The benchmark's yardstick: an extractor of the launcher's six archives
// written for speed, to set the launcher's unpacking time against.
//
// It carries its archives the way a setup executable does (the same
// generated payload.rc, so the same resources under the same names), finds
// them in its own image, makes a fresh folder "KVRef<n>\" below the
// temporary folder, and unpacks every entry of BASE, SETUPBASE, SETUPPHOTO,
// PHOTOEDITION, KVIMAGE and KVVERSION in the launcher's order: zlib
// inflates the whole compressed range in one go into a 1 MiB buffer, and the
// file is written with one WriteFile call per full MiB (most files take one
// or two). Then it starts StageRun.exe from that folder with ShellExecuteExA
// and parameters of the launcher's form, so the benchmark driver times it
// exactly like the launcher: from its own CreateProcess to the second
// stage's first instruction.
//
// What it leaves out, because the launcher's fixed cost covers it and the
// driver subtracts that separately: the splash, the free-space check and
// the cleanup script.
//
// Exit code: 0 when the second stage was started; 2 an archive is damaged;
// 3 a folder or file could not be made or written; 4 the second stage did
// not start.
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include <zlib.h>

#include "archive/archive_format.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace {

constexpr int kExitDamaged = 2;
constexpr int kExitFileSystem = 3;
constexpr int kExitLaunch = 4;

// Inflated bytes gathered before one WriteFile call.
constexpr unsigned kOutputBlock = 1u << 20;

struct Failure {
  int exitCode;
};

// Creates every folder on the way to the file `path` (below `root`, which
// exists), remembering what it made so each folder costs one call.
void MakeFoldersFor(const std::string& path, size_t rootLength, std::set<std::string>* made) {
  for (size_t at = path.find('\\', rootLength); at != std::string::npos;
       at = path.find('\\', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (made->count(folder)) continue;
    if (!::CreateDirectoryA(folder.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      throw Failure{kExitFileSystem};
    }
    made->insert(folder);
  }
}

void WriteAll(HANDLE file, const unsigned char* bytes, DWORD count) {
  DWORD written = 0;
  if (count > 0 && (!::WriteFile(file, bytes, count, &written, nullptr) || written != count)) {
    throw Failure{kExitFileSystem};
  }
}

// Inflates one entry into `path`. The whole compressed range is zlib's
// input at once; output is written a full buffer at a time.
void UnpackEntry(z_stream* zs, const uint8_t* data, const kv::ArchiveEntry& entry,
                 const std::string& path, unsigned char* buffer) {
  kv::ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) throw Failure{kExitFileSystem};
  if (entry.compressedLength == 0) return;  // an empty file

  if (inflateReset(zs) != Z_OK) throw Failure{kExitDamaged};
  zs->next_in = const_cast<Bytef*>(data + entry.dataOffset);
  zs->avail_in = entry.compressedLength;
  int result = Z_OK;
  while (result == Z_OK) {
    zs->next_out = buffer;
    zs->avail_out = kOutputBlock;
    result = inflate(zs, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) throw Failure{kExitDamaged};
    WriteAll(file.Get(), buffer, kOutputBlock - zs->avail_out);
  }
  if (zs->total_out != entry.uncompressedLength) throw Failure{kExitDamaged};
}

// Unpacks the six archives of this executable into `workFolder` (ending in
// a backslash).
void UnpackAll(HMODULE module, const std::string& workFolder) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kOutputBlock]);
  z_stream zs = {};
  if (inflateInit(&zs) != Z_OK) throw Failure{kExitDamaged};
  std::set<std::string> made;
  try {
    for (const char* const* name = kv::kUnpackedArchives; *name; ++name) {
      HRSRC found = ::FindResourceA(module, *name, kv::kArchiveResourceType);
      if (!found) continue;
      HGLOBAL loaded = ::LoadResource(module, found);
      const auto* data = static_cast<const uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
      if (!data) continue;
      const kv::ArchiveDirectory directory =
          kv::ReadArchiveDirectory(data, ::SizeofResource(module, found));
      if (!directory.ok()) throw Failure{kExitDamaged};
      for (const kv::ArchiveEntry& entry : directory.entries) {
        const std::string path = workFolder + entry.name;
        MakeFoldersFor(path, workFolder.size(), &made);
        UnpackEntry(&zs, data, entry, path, buffer.get());
      }
    }
  } catch (...) {
    inflateEnd(&zs);
    throw;
  }
  inflateEnd(&zs);
}

// A new folder below the temporary folder; its path ends in a backslash.
std::string MakeWorkFolder() {
  char temp[MAX_PATH];
  const DWORD n = ::GetTempPathA(sizeof temp, temp);
  if (n == 0 || n >= sizeof temp) throw Failure{kExitFileSystem};
  for (unsigned i = ::GetCurrentProcessId();; ++i) {
    const std::string folder = std::string(temp) + "KVRef" + std::to_string(i);
    if (::CreateDirectoryA(folder.c_str(), nullptr)) return folder + "\\";
    if (::GetLastError() != ERROR_ALREADY_EXISTS) throw Failure{kExitFileSystem};
  }
}

void StartSecondStage(const std::string& workFolder, const char* commandTail) {
  if (!::SetCurrentDirectoryA(workFolder.c_str())) throw Failure{kExitFileSystem};
  char program[MAX_PATH];
  ::GetModuleFileNameA(nullptr, program, sizeof program);
  // The launcher's parameters; there is no cleanup script to name.
  const std::string parameters =
      std::string("KVSetup SetupProgram=VIVivir Wnd=Normal Server=None Wnd=Maximized "
                  "ResourceFile=\"") +
      program + "\" CleanUp=\"\" " + commandTail;
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.lpVerb = "open";
  info.lpFile = "StageRun.exe";
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExA(&info)) throw Failure{kExitLaunch};
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  try {
    const std::string workFolder = MakeWorkFolder();
    UnpackAll(instance, workFolder);
    StartSecondStage(workFolder, commandTail ? commandTail : "");
  } catch (const Failure& failure) {
    return failure.exitCode;
  }
  return 0;
}
