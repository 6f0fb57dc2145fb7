// Finds the archives in a file that kvpack is asked to list or verify: the
// file itself when it is an archive, or each "KVArc" resource when it is an
// executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kvpack/host/host_files.h"

namespace kv {

// One archive inside a loaded file; data points into LoadedFile::file.
struct ArchiveSource {
  // "archive" for a plain file, else "resource BASE (language 1031)", the
  // name shown with PrintableText.
  std::string label;
  std::string name;      // resource name, empty for a plain file
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

struct LoadedFile {
  MappedFile file;
  bool isExecutable = false;
  std::vector<ArchiveSource> archives;
};

// Finds the archives in the bytes file[0, size): the bytes themselves when
// they do not start like a PE file, else every "KVArc" resource, in
// resource directory order (data then points into file). False with a
// one-line *error when an executable's resource tree is damaged (see
// FindPeResources) or it carries no "KVArc" resource. Throws only
// std::bad_alloc.
bool FindArchiveSources(const std::uint8_t* file, std::size_t size,
                        std::vector<ArchiveSource>* archives, bool* isExecutable,
                        std::string* error);

// Maps the file at path (its pages are read as they are used, so a setup
// of any size is listed and verified in little memory). A file that starts like a PE file ("MZ" and
// a "PE" signature where its DOS header points) is an executable: every
// resource of type "KVArc" in it becomes one source, in resource directory
// order. Any other file is taken as one archive.
// Returns false with a one-line *error, naming the path, when the file
// cannot be read or FindArchiveSources refuses it.
bool LoadArchives(const std::string& path, LoadedFile* out, std::string* error);

}  // namespace kv
