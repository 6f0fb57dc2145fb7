#include "tools/kvpack/archive_sources.h"

#include "archive/archive_format.h"
#include "archive/pe_resources.h"

namespace kv {

bool LoadArchives(const std::string& path, LoadedFile* out, std::string* error) {
  out->archives.clear();
  if (!out->file.Open(path, error)) return false;
  static const std::uint8_t kNothing = 0;
  const std::uint8_t* bytes = out->file.size() != 0 ? out->file.data() : &kNothing;
  out->isExecutable = LooksLikePeFile(bytes, out->file.size());
  if (!out->isExecutable) {
    out->archives.push_back(ArchiveSource{"archive", "", bytes, out->file.size()});
    return true;
  }
  std::vector<PeResource> resources;
  std::string why;
  if (!FindPeResources(bytes, out->file.size(), kArchiveResourceType, &resources,
                       &why)) {
    *error = path + ": " + why;
    return false;
  }
  if (resources.empty()) {
    *error = path + ": executable without any " + kArchiveResourceType + " resource";
    return false;
  }
  for (const PeResource& r : resources) {
    out->archives.push_back(ArchiveSource{
        "resource " + r.name + " (language " + std::to_string(r.language) + ")", r.name, r.data,
        r.size});
  }
  return true;
}

}  // namespace kv
