// `kvpack setup`: a setup executable from the launcher stub and a payload
// folder, without compiler, resource compiler or linker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe/resource_formats.h"

namespace kv {

struct SetupRequest {
  std::string payload;  // the payload folder
  std::string output;   // the setup executable to write
  std::string stub;     // the launcher stub
  std::string splash;   // a .bmp for bitmap 134, or ""
  std::string icon;     // a .ico for icon group 101, or ""
  bool version = false; // write a version resource from versionInfo
  VersionInfo versionInfo;
  int level = 9;
  // SOURCE_DATE_EPOCH: caps the entries' time stamps and is the PE time
  // stamp (which is 0 without it).
  std::optional<std::int64_t> sourceDateEpoch;
  bool allowMissingStage = false;
  // Embeds ready archives without inflating them first (test fixtures that
  // carry damaged archives on purpose).
  bool uncheckedArchives = false;
  // If not empty: also writes each archive as <dir>/<NAME>.kvarc and a
  // resource script <dir>/payload.rc that embeds them, each only when its
  // bytes changed.
  std::string archivesDir;
};

struct SetupResult {
  std::size_t archives = 0;
  std::size_t entries = 0;
  std::uint64_t bytes = 0;             // of the executable
  std::uint64_t archiveBytes = 0;      // of the archives in it
  std::vector<std::string> warnings;   // one line each
  std::vector<std::string> archiveNames;
};

// Builds the setup executable that `request` describes and writes it
// through a temporary file beside request.output, renamed into place only
// when complete: on failure an existing file there stays as it was.
//
// The payload folder holds one entry per archive, named exactly like the
// archive: a folder <NAME> (packed in parallel) or a ready archive file
// <NAME>.kvarc (checked entry by entry, then embedded as it is). Refused,
// with one line in *error that names the path and the reason: a payload
// folder that is missing or empty; a top-level entry that is no archive
// name, or both forms of one archive; anything ScanFolder refuses; a ready
// archive that fails its check; an archive over the format's 4 GiB; no
// StageRun.exe at the top of any archive the launcher unpacks (unless
// allowMissingStage); a splash, icon or stub that cannot be used. No
// holdproc.exe at the top of an unpacked archive is a warning.
bool BuildSetup(const SetupRequest& request, SetupResult* result, std::string* error);

}  // namespace kv
