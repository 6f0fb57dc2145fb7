#include "archive/entry_extraction.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "archive/unpack_error.h"
#include "stream/file_stream.h"
#include "stream/inflate_stream.h"
#include "stream/mem_read_stream.h"

namespace kv {

void ExtractEntry(const void* data, unsigned long compressedLength, unsigned long uncompressedLength,
                  const char* targetPath, CreatedFolderList* folders, TargetFile target,
                  const std::function<void(const char*)>& fileCreated,
                  ExtractionContext* context) {
  constexpr unsigned long kStepBytes = kExtractionStepBytes;
  // The folder part: everything before the last backslash.
  std::string folder(targetPath);
  const std::string::size_type cut = folder.rfind('\\');
  if (cut != std::string::npos) {
    folder.resize(cut);
    // A folder that fails to appear shows as the open failure below.
    if (context) {
      context->Folders().Ensure(folder, folders);
    } else {
      CreateFolderPath(folder.c_str(), folders);
    }
  }

  ZKMemRead source(data, compressedLength);
  const unsigned int flags =
      ZK_WRITE | (target == TargetFile::kNew ? ZK_CREATE_NEW : ZK_CREATE);
  std::unique_ptr<ZKFile> file(new ZKFile(targetPath, flags));
  if (fileCreated) fileCreated(targetPath);

  // The engine is driven in large steps. zlib decodes at speed only with
  // room for at least 258 bytes of output, so the inflate copier's 100-byte
  // steps and 113-byte input (265,000 inflate calls for a 26 MB payload)
  // keep it on its slow path and make unpacking twice as slow.
  std::unique_ptr<ZKInflate> ownEngine;
  std::unique_ptr<unsigned char[]> ownBlock;
  if (!context) {
    ownEngine.reset(new ZKInflate(kStepBytes));
    ownBlock.reset(new unsigned char[kStepBytes]);
  }
  ZKInflate& engine = context ? context->Engine() : *ownEngine;
  unsigned char* const block = context ? context->Block() : ownBlock.get();
  // An entry that an exception ended left the shared engine mid-stream.
  if (engine.GetState() != ZKInflate::Idle) engine.EndInflate(nullptr);
  ZKWrite* writer = file.get();
  engine.StartInflate();
  // No step asks for more than the record has left, so a stream that
  // inflates beyond its record (a bomb of a few hundred bytes can yield
  // gigabytes) never gets more than the recorded length onto the disk.
  std::uint64_t left = uncompressedLength;
  bool tooLong = false;
  for (;;) {
    if (left == 0) {
      // Everything recorded has arrived: the stream must end here.
      unsigned char beyond;
      tooLong = engine.ReadInflated(&beyond, 1, &source) != 0;
      break;
    }
    const unsigned long want = left < kStepBytes ? static_cast<unsigned long>(left) : kStepBytes;
    const unsigned long produced = engine.ReadInflated(block, want, &source);
    if (produced == 0) break;
    writer->stWrite(block, produced);
    left -= produced;
  }
  engine.EndInflate(&source);
  file->Close();

  if (tooLong) {
    throw UnpackError(UnpackError::Kind::kDamagedEntry, targetPath,
                      "the data inflates to more than the " + std::to_string(uncompressedLength) +
                          " bytes its record gives");
  }
  // An empty stream (compressed length 0) stands for an empty file.
  const bool complete = compressedLength == 0 ? true : engine.ReachedStreamEnd();
  if (!complete || engine.TotalOut() != uncompressedLength) {
    throw UnpackError(UnpackError::Kind::kDamagedEntry, targetPath,
                      complete ? "the data inflates to " + std::to_string(engine.TotalOut()) +
                                     " bytes instead of " + std::to_string(uncompressedLength)
                               : "the compressed data is damaged or truncated");
  }
}

}  // namespace kv
