#include "tools/kvpack/archive_sources.h"

#include "archive/archive_format.h"
#include "archive/pe_resources.h"
#include "tools/kvpack/host_files.h"

namespace kv {

bool LoadArchives(const std::string& path, LoadedFile* out, std::string* error) {
  out->archives.clear();
  if (!ReadWholeFile(path, &out->bytes, error)) return false;
  out->isExecutable = LooksLikePeFile(out->bytes.data(), out->bytes.size());
  if (!out->isExecutable) {
    out->archives.push_back(ArchiveSource{"archive", "", out->bytes.data(), out->bytes.size()});
    return true;
  }
  std::vector<PeResource> resources;
  std::string why;
  if (!FindPeResources(out->bytes.data(), out->bytes.size(), kArchiveResourceType, &resources,
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
