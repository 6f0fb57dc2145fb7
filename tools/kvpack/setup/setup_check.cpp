#include "tools/kvpack/setup/setup_check.h"

#include "archive/archive_format.h"
#include "pe/pe_checksum.h"
#include "pe/pe_headers.h"
#include "pe/pe_resources.h"
#include "tools/kvpack/commands/archive_report.h"

namespace kv {

namespace {

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

}  // namespace

bool CheckBuiltSetup(const std::uint8_t* file, std::size_t size,
                     const std::vector<BuiltArchive>& expected, bool checkArchives,
                     std::string* error, const PieceLender& lend) {
  PeLayout layout;
  std::string why;
  if (!CheckPeLayout(file, size, &layout, &why)) return Fail(error, why);
  const std::uint32_t stored = layout.checkSum;
  std::uint32_t computed = 0;
  if (!PeChecksum(file, size, layout.Field(pe::kCheckSum), lend, &computed)) {
    return Fail(error, "its bytes cannot be read: the system gave no view of them");
  }
  if (stored != computed) {
    return Fail(error, "its CheckSum " + std::to_string(stored) + " is not the file's, " +
                           std::to_string(computed));
  }
  std::vector<PeResource> all;
  if (!FindPeResources(file, size, "", &all, &why)) return Fail(error, why);
  std::vector<PeResource> archives;
  if (!FindPeResources(file, size, kArchiveResourceType, &archives, &why)) {
    return Fail(error, why);
  }
  if (archives.size() != expected.size()) {
    return Fail(error, "it carries " + std::to_string(archives.size()) + " archives, not " +
                           std::to_string(expected.size()));
  }
  for (const BuiltArchive& want : expected) {
    const PeResource* found = nullptr;
    for (const PeResource& r : archives) {
      if (r.name == want.name) found = &r;
    }
    if (found == nullptr || found->language != kArchiveLanguage || found->size != want.size) {
      return Fail(error, "archive " + want.name + " is not there as built (" +
                             std::to_string(want.size) + " bytes, language " +
                             std::to_string(kArchiveLanguage) + ")");
    }
    if (checkArchives && !ArchiveReadsBack(found->data, found->size, want.entries, &why, lend)) {
      return Fail(error, "archive " + want.name + ": " + why);
    }
  }
  return true;
}

}  // namespace kv
