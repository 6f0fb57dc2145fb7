#include "bench/reference_unpack.h"

#include <memory>
#include <set>

#include <zlib.h>

#include "archive/archive_format.h"
#include "platform/scoped_handle.h"

namespace kv::bench {
namespace {

// Inflated bytes gathered before one WriteFile call.
constexpr unsigned kOutputBlock = 1u << 20;

// Creates every folder on the way to the file `path` that this run has not
// made yet: the work folder (the first `rootLength` characters) exists, and
// a folder made once needs no second look, so each folder costs one call.
void MakeFoldersFor(const std::string& path, size_t rootLength, std::set<std::string>* made) {
  for (size_t at = path.find('\\', rootLength); at != std::string::npos;
       at = path.find('\\', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (made->count(folder)) continue;
    if (!::CreateDirectoryA(folder.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      throw ReferenceFailure{kReferenceExitFileSystem};
    }
    made->insert(folder);
  }
}

void WriteAll(HANDLE file, const unsigned char* bytes, DWORD count) {
  DWORD written = 0;
  if (count > 0 && (!::WriteFile(file, bytes, count, &written, nullptr) || written != count)) {
    throw ReferenceFailure{kReferenceExitFileSystem};
  }
}

// Inflates one entry into `path`. The whole compressed range is zlib's
// input at once; output is written a full buffer at a time.
void UnpackEntry(z_stream* zs, const uint8_t* data, const kv::ArchiveEntry& entry,
                 const std::string& path, unsigned char* buffer) {
  kv::ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) throw ReferenceFailure{kReferenceExitFileSystem};
  if (entry.compressedLength == 0) return;  // an empty file

  if (inflateReset(zs) != Z_OK) throw ReferenceFailure{kReferenceExitDamaged};
  zs->next_in = const_cast<Bytef*>(data + entry.dataOffset);
  zs->avail_in = entry.compressedLength;
  int result = Z_OK;
  while (result == Z_OK) {
    zs->next_out = buffer;
    zs->avail_out = kOutputBlock;
    result = inflate(zs, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) throw ReferenceFailure{kReferenceExitDamaged};
    WriteAll(file.Get(), buffer, kOutputBlock - zs->avail_out);
  }
  if (zs->total_out != entry.uncompressedLength) throw ReferenceFailure{kReferenceExitDamaged};
}

}  // namespace

std::string MakeReferenceWorkFolder() {
  char temp[MAX_PATH];
  const DWORD n = ::GetTempPathA(sizeof temp, temp);
  if (n == 0 || n >= sizeof temp) throw ReferenceFailure{kReferenceExitFileSystem};
  for (unsigned i = ::GetCurrentProcessId();; ++i) {
    const std::string folder = std::string(temp) + "KVRef" + std::to_string(i);
    if (::CreateDirectoryA(folder.c_str(), nullptr)) return folder + "\\";
    if (::GetLastError() != ERROR_ALREADY_EXISTS) throw ReferenceFailure{kReferenceExitFileSystem};
  }
}

void UnpackArchivesFast(HMODULE module, const std::string& workFolder) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kOutputBlock]);
  z_stream zs = {};
  if (inflateInit(&zs) != Z_OK) throw ReferenceFailure{kReferenceExitDamaged};
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
      if (!directory.ok()) throw ReferenceFailure{kReferenceExitDamaged};
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

void StartSecondStageFrom(const std::string& workFolder, const char* commandTail) {
  if (!::SetCurrentDirectoryA(workFolder.c_str())) throw ReferenceFailure{kReferenceExitFileSystem};
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
  if (!::ShellExecuteExA(&info)) throw ReferenceFailure{kReferenceExitLaunch};
}

}  // namespace kv::bench
