#include "tools/kvpack/commands/archive_sources.h"

#include "archive/archive_format.h"
#include "pe/pe_resources.h"

namespace kv {

bool FindArchiveSources(const std::uint8_t* file, std::size_t size,
                        std::vector<ArchiveSource>* archives, bool* isExecutable,
                        std::string* error) {
  archives->clear();
  *isExecutable = LooksLikePeFile(file, size);
  if (!*isExecutable) {
    archives->push_back(ArchiveSource{"archive", "", file, size});
    return true;
  }
  std::vector<PeResource> resources;
  if (!FindPeResources(file, size, kArchiveResourceType, &resources, error)) return false;
  if (resources.empty()) {
    *error = std::string("executable without any ") + kArchiveResourceType + " resource";
    return false;
  }
  for (const PeResource& r : resources) {
    archives->push_back(ArchiveSource{"resource " + PrintableText(r.name) + " (language " +
                                          std::to_string(r.language) + ")",
                                      r.name, r.data, r.size});
  }
  return true;
}

bool LoadArchives(const std::string& path, LoadedFile* out, std::string* error) {
  out->archives.clear();
  if (!out->file.Open(path, error)) return false;
  static const std::uint8_t kNothing = 0;
  const std::uint8_t* bytes = out->file.size() != 0 ? out->file.data() : &kNothing;
  std::string why;
  if (!FindArchiveSources(bytes, out->file.size(), &out->archives, &out->isExecutable, &why)) {
    *error = path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace kv
