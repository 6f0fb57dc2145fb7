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
namespace {

[[noreturn]] void RefuseTooLong(const char* targetPath, unsigned long uncompressedLength) {
  throw UnpackError(UnpackError::Kind::kDamagedEntry, targetPath,
                    "the data inflates to more than the " + std::to_string(uncompressedLength) +
                        " bytes its record gives");
}

[[noreturn]] void RefuseDamaged(const char* targetPath) {
  throw UnpackError(UnpackError::Kind::kDamagedEntry, targetPath,
                    "the compressed data is damaged or truncated");
}

[[noreturn]] void RefuseShort(const char* targetPath, unsigned long long produced,
                              unsigned long uncompressedLength) {
  throw UnpackError(UnpackError::Kind::kDamagedEntry, targetPath,
                    "the data inflates to " + std::to_string(produced) + " bytes instead of " +
                        std::to_string(uncompressedLength));
}

// The zlib stream in steps: the engine is driven with room for 64 KiB at a
// time. zlib decodes at speed only with room for at least 258 bytes of
// output, so the inflate copier's 100-byte steps and 113-byte input
// (265,000 inflate calls for a 26 MB payload) would keep it on its slow
// path and make unpacking twice as slow.
void InflateInSteps(ZKInflate& engine, unsigned char* block, ZKMemRead& source, ZKWrite* writer,
                    ZKFile& file, unsigned long uncompressedLength, const char* targetPath,
                    PausePoint* pauses) {
  // An entry that an exception ended left the shared engine mid-stream.
  if (engine.GetState() != ZKInflate::Idle) engine.EndInflate(nullptr);
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
    const unsigned long want =
        left < kExtractionStepBytes ? static_cast<unsigned long>(left) : kExtractionStepBytes;
    const unsigned long produced = engine.ReadInflated(block, want, &source);
    if (produced == 0) break;
    writer->stWrite(block, produced);
    left -= produced;
    if (pauses) pauses->Pause();
  }
  engine.EndInflate(&source);
  file.Close();

  if (tooLong) RefuseTooLong(targetPath, uncompressedLength);
  if (!engine.ReachedStreamEnd()) RefuseDamaged(targetPath);
  if (engine.TotalOut() != uncompressedLength) {
    RefuseShort(targetPath, engine.TotalOut(), uncompressedLength);
  }
}

}  // namespace

void ExtractEntry(const void* data, unsigned long compressedLength, unsigned long uncompressedLength,
                  const char* targetPath, CreatedFolderList* folders, TargetFile target,
                  const std::function<void(const char*)>& fileCreated,
                  ExtractionContext* context) {
  PausePoint* const pauses = context ? context->Pauses() : nullptr;
  if (pauses) pauses->Pause();

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

  const unsigned int flags =
      ZK_WRITE | (target == TargetFile::kNew ? ZK_CREATE_NEW : ZK_CREATE);
  std::unique_ptr<ZKFile> file(new ZKFile(targetPath, flags));
  if (fileCreated) fileCreated(targetPath);

  // An empty stream (compressed length 0) stands for an empty file.
  if (compressedLength == 0) {
    file->Close();
    if (uncompressedLength != 0) RefuseShort(targetPath, 0, uncompressedLength);
    return;
  }

  std::unique_ptr<WholeEntryInflater> ownWhole;
  if (!context) ownWhole.reset(new WholeEntryInflater());
  WholeEntryInflater& whole = context ? context->Whole() : *ownWhole;
  if (uncompressedLength <= whole.Limit() &&
      whole.Inflate(data, compressedLength, uncompressedLength)) {
    // In pieces, so that writing a large entry does not keep the pauses
    // apart.
    const unsigned char* piece = whole.Data();
    for (unsigned long left = uncompressedLength; left > 0;) {
      const unsigned long size = left < kWholeWritePieceBytes ? left : kWholeWritePieceBytes;
      file->stWrite(piece, size);
      piece += size;
      left -= size;
      if (pauses && left > 0) pauses->Pause();
    }
    file->Close();
    return;
  }
  // A larger entry; or one that did not inflate whole to its record, which
  // the zlib stream inflates again to say what is wrong with it (damage is
  // rare, and this way every damaged entry is told in the same words).
  std::unique_ptr<ZKInflate> ownEngine;
  std::unique_ptr<unsigned char[]> ownBlock;
  if (!context) {
    ownEngine.reset(new ZKInflate(kExtractionStepBytes));
    ownBlock.reset(new unsigned char[kExtractionStepBytes]);
  }
  ZKMemRead source(data, compressedLength);
  InflateInSteps(context ? context->Engine() : *ownEngine,
                 context ? context->Block() : ownBlock.get(), source, file.get(), *file,
                 uncompressedLength, targetPath, pauses);
}

}  // namespace kv
