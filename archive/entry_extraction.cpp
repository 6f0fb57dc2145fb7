#include "archive/entry_extraction.h"

#include <cstring>
#include <memory>
#include <string>

#include "archive/combining_writer.h"
#include "archive/unpack_error.h"
#include "stream/file_stream.h"
#include "stream/inflate_stream.h"
#include "stream/mem_read_stream.h"

namespace kv {

void ExtractEntry(const void* data, unsigned long compressedLength, unsigned long uncompressedLength,
                  const char* targetPath, CreatedFolderList* folders,
                  const std::function<void(const char*)>& fileCreated) {
  // The folder part: everything before the last backslash.
  std::string folder(targetPath);
  const std::string::size_type cut = folder.rfind('\\');
  if (cut != std::string::npos) {
    folder.resize(cut);
    // A folder that fails to appear shows as the open failure below.
    CreateFolderPath(folder.c_str(), folders);
  }

  ZKMemRead source(data, compressedLength);
  std::unique_ptr<ZKFile> file(new ZKFile(targetPath, ZK_WRITE | ZK_CREATE));
  if (fileCreated) fileCreated(targetPath);
  CombiningWriter writer(file.get());
  ZKInflateCopy copier;
  copier.stTransfer(&writer, &source, 0);
  writer.Flush();
  file->Close();

  // An empty stream (compressed length 0) stands for an empty file.
  const bool complete = compressedLength == 0 ? true : copier.ReachedStreamEnd();
  if (!complete || copier.TotalOut() != uncompressedLength) {
    throw UnpackError(UnpackError::Kind::kDamagedEntry, targetPath,
                      complete ? "the data inflates to " + std::to_string(copier.TotalOut()) +
                                     " bytes instead of " + std::to_string(uncompressedLength)
                               : "the compressed data is damaged or truncated");
  }
}

}  // namespace kv
