#include "tools/kvpack/archive_sources.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "archive/archive_format.h"
#include "archive/pe_resources.h"

namespace kv {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  bytes->clear();
  std::uint8_t buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  if (std::ferror(f.get())) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string* error) {
  const std::string temp = path + ".kvpack-tmp";
  {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(temp.c_str(), "wb"));
    if (!f) {
      *error = temp + ": " + std::strerror(errno);
      return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    const bool closed = std::fclose(f.release()) == 0;
    if (!written || !closed) {
      *error = temp + ": write error: " + std::strerror(errno);
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

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
