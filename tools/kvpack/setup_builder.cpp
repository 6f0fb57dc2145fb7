#include "tools/kvpack/setup_builder.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>

#include "archive/archive_format.h"
#include "archive/pe_resources.h"
#include "tools/kvpack/folder_scan.h"
#include "tools/kvpack/ansi_names.h"
#include "tools/kvpack/host_files.h"
#include "tools/kvpack/install_names.h"
#include "tools/kvpack/parallel_deflate.h"
#include "tools/kvpack/pe_rebuild.h"
#include "tools/kvpack/setup_check.h"

namespace kv {

namespace {

constexpr const char* kArchiveNames[] = {"BASE",    "SETUPBASE", "SETUPPHOTO", "PHOTOEDITION",
                                         "KVIMAGE", "KVVERSION", "APPBASE",    "PHOTOUNINST"};
constexpr std::size_t kUnpackedCount = 6;  // the first six; the launcher unpacks them

// Resource ids of the launcher stub (resources/resource_ids.h).
constexpr const char* kSplashBitmap = "#134";
constexpr const char* kIconGroup = "#101";
constexpr const char* kBitmapType = "#2";
constexpr const char* kIconType = "#3";
constexpr const char* kGroupIconType = "#14";
constexpr const char* kVersionType = "#16";

std::string Join(const std::string& folder, const std::string& name) {
  return folder + PathSeparator() + name;
}

// One archive of the payload, as it will be embedded.
struct Archive {
  std::string name;
  std::string hostPath;  // folder or .kvarc file
  bool ready = false;
  std::vector<FileToPack> files;
  std::vector<std::uint8_t> image;
};

bool HasTopLevel(const ArchiveDirectory& dir, const char* name) {
  for (const ArchiveEntry& e : dir.entries) {
    if (SameAsciiName(e.name, name)) return true;
  }
  return false;
}

bool HasTopLevel(const std::vector<FileToPack>& files, const char* name) {
  for (const FileToPack& f : files) {
    if (SameAsciiName(f.name, name)) return true;
  }
  return false;
}

// The launcher's cleanup script lies at the top of the work folder under a
// number and ".bat" (0.bat, 17.bat, ...); an unpacked entry of that form
// could meet it there, and the run would end.
bool ScriptLikeName(const std::string& name) {
  const std::string::size_type dot = name.size() >= 5 ? name.size() - 4 : std::string::npos;
  if (dot == std::string::npos || dot == 0 || !SameAsciiName(name.substr(dot), ".bat")) return false;
  for (std::string::size_type i = 0; i < dot; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

bool FindArchives(const std::string& payload, std::vector<Archive>* archives, std::string* error) {
  FolderItem self;
  if (!StatPath(payload, &self, error)) return false;
  if (self.kind != ItemKind::kFolder) {
    *error = payload + ": the payload is not a folder";
    return false;
  }
  std::vector<FolderItem> items;
  if (!ListFolder(payload, &items, error)) return false;
  if (items.empty()) {
    *error = payload + ": the payload folder is empty";
    return false;
  }
  std::map<std::string, std::string> found;  // archive name -> host path
  for (const FolderItem& item : items) {
    const std::string path = Join(payload, item.name);
    std::string archive;
    for (const char* name : kArchiveNames) {
      if (item.kind == ItemKind::kFolder && item.name == name) archive = name;
      if (item.kind == ItemKind::kFile && item.name == std::string(name) + ".kvarc") archive = name;
    }
    if (archive.empty()) {
      *error = path + ": not an archive folder or <NAME>.kvarc file; the archive names are "
               "BASE SETUPBASE SETUPPHOTO PHOTOEDITION KVIMAGE KVVERSION APPBASE PHOTOUNINST";
      return false;
    }
    const auto inserted = found.emplace(archive, path);
    if (!inserted.second) {
      *error = path + ": archive " + archive + " is also given as " + inserted.first->second +
               "; keep one";
      return false;
    }
  }
  for (const char* name : kArchiveNames) {
    const auto it = found.find(name);
    if (it == found.end()) continue;
    Archive a;
    a.name = name;
    a.hostPath = it->second;
    a.ready = it->second.size() > 6 && it->second.compare(it->second.size() - 6, 6, ".kvarc") == 0;
    archives->push_back(std::move(a));
  }
  return true;
}

bool CheckReadyArchive(const Archive& a, bool inflate, ArchiveDirectory* dir, std::string* error) {
  if (a.image.size() > kMaxArchiveSize) {
    *error = a.hostPath + ": larger than the archive format's 4 GiB";
    return false;
  }
  *dir = ReadArchiveDirectory(a.image.data(), a.image.size());
  if (!inflate) return true;
  std::string why;
  if (!dir->ok() || !CheckEntryRanges(*dir, &why)) {
    *error = a.hostPath + ": damaged archive: " + (dir->ok() ? why : dir->error);
    return false;
  }
  for (const ArchiveEntry& e : dir->entries) {
    if (InflateEntry(a.image.data() + e.dataOffset, e.compressedLength, e.uncompressedLength,
                     nullptr, &why) != EntryFault::kNone) {
      *error = a.hostPath + ": damaged archive: entry " + std::to_string(&e - &dir->entries[0]) +
               ": " + why;
      return false;
    }
  }
  return true;
}

std::string ResourceScript(const std::vector<Archive>& archives, const std::string& dir) {
  std::string rc = "// Archive resources written by kvpack setup.\nLANGUAGE 0x07, 0x01\n";
  for (const Archive& a : archives) {
    std::string path = Join(dir, a.name + ".kvarc");
    std::string quoted;
    for (char c : path) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
    rc += a.name + " KVARC \"" + quoted + "\"\n";
  }
  return rc;
}

}  // namespace

bool BuildSetup(const SetupRequest& request, SetupResult* result, std::string* error) {
  *result = SetupResult{};
  // The stub first: without a usable one nothing else matters.
  std::vector<std::uint8_t> stub;
  if (!ReadWholeFile(request.stub, &stub, error)) return false;
  StubLayout layout;
  if (!InspectStub(stub, &layout, error)) {
    *error = request.stub + ": cannot be used as the launcher stub: " + *error;
    return false;
  }
  std::vector<PeResource> stubResources;
  if (!FindPeResources(stub.data(), stub.size(), "", &stubResources, error)) {
    *error = request.stub + ": cannot be used as the launcher stub: " + *error;
    return false;
  }

  std::vector<Archive> archives;
  if (!FindArchives(request.payload, &archives, error)) return false;
  std::vector<FileToPack> allFiles;
  std::vector<std::size_t> firstFile;
  for (Archive& a : archives) {
    firstFile.push_back(allFiles.size());
    if (a.ready) {
      if (!ReadWholeFile(a.hostPath, &a.image, error)) return false;
    } else {
      if (!ScanFolder(a.hostPath, request.sourceDateEpoch, &a.files, error)) return false;
      allFiles.insert(allFiles.end(), a.files.begin(), a.files.end());
    }
  }

  // What the launcher will start, and what its cleanup script will call.
  bool stage = false;
  bool holdproc = false;
  // The names of the archives the launcher unpacks meet in its work folder;
  // each archive left for the second stage unpacks on its own.
  std::vector<InstallName> unpackedNames;
  for (std::size_t i = 0; i < archives.size(); ++i) {
    Archive& a = archives[i];
    bool unpacked = false;
    for (std::size_t k = 0; k < kUnpackedCount; ++k) unpacked |= a.name == kArchiveNames[k];
    std::vector<std::string> names;
    std::vector<InstallName> installNames;
    if (a.ready) {
      ArchiveDirectory dir;
      if (!CheckReadyArchive(a, !request.uncheckedArchives, &dir, error)) return false;
      if (unpacked) {
        stage |= HasTopLevel(dir, "StageRun.exe");
        holdproc |= HasTopLevel(dir, "holdproc.exe");
        for (const ArchiveEntry& e : dir.entries) names.push_back(e.name);
      }
      for (const ArchiveEntry& e : dir.entries) {
        installNames.push_back({e.name, a.hostPath + ": entry " + AnsiForDisplay(e.name), i});
      }
    } else {
      if (unpacked) {
        stage |= HasTopLevel(a.files, "StageRun.exe");
        holdproc |= HasTopLevel(a.files, "holdproc.exe");
        for (const FileToPack& f : a.files) names.push_back(f.name);
      }
      for (const FileToPack& f : a.files) installNames.push_back({f.name, f.hostPath, i});
    }
    if (unpacked) {
      unpackedNames.insert(unpackedNames.end(), installNames.begin(), installNames.end());
    } else if (!CheckInstallNames(installNames, error)) {
      return false;
    }
    for (const std::string& name : names) {
      if (ScriptLikeName(name)) {
        *error = a.hostPath + (a.ready ? ": entry " : "/") + name +
                 ": a number and .bat at the top of an unpacked archive is the form of the "
                 "launcher's cleanup script, which lies there too; please rename it";
        return false;
      }
    }
  }
  if (!CheckInstallNames(unpackedNames, error)) return false;
  if (!stage && !request.allowMissingStage) {
    *error = request.payload + ": no StageRun.exe at the top of BASE, SETUPBASE, SETUPPHOTO, "
             "PHOTOEDITION, KVIMAGE or KVVERSION: the launcher would start nothing "
             "(--allow-missing-stage builds it all the same)";
    return false;
  }
  if (!holdproc) {
    result->warnings.push_back(request.payload +
                               ": no holdproc.exe at the top of an unpacked archive: the cleanup "
                               "script calls it");
  }

  // The publisher's own pictures, checked before the long part.
  std::vector<std::uint8_t> splash;
  if (!request.splash.empty()) {
    std::vector<std::uint8_t> file;
    if (!ReadWholeFile(request.splash, &file, error)) return false;
    if (!SplashFromBmp(file, &splash, error)) {
      *error = request.splash + ": cannot be the splash picture: " + *error;
      return false;
    }
  }
  IconSet icons;
  if (!request.icon.empty()) {
    std::vector<std::uint8_t> file;
    if (!ReadWholeFile(request.icon, &file, error)) return false;
    if (!IconsFromIco(file, &icons, error)) {
      *error = request.icon + ": cannot be the program icon: " + *error;
      return false;
    }
  }

  std::vector<PackedEntry> packed;
  if (!CompressFiles(allFiles, request.level, &packed, error)) return false;
  for (std::size_t i = 0; i < archives.size(); ++i) {
    Archive& a = archives[i];
    if (a.ready) continue;
    std::vector<PackedEntry> mine(std::make_move_iterator(packed.begin() + firstFile[i]),
                                  std::make_move_iterator(packed.begin() + firstFile[i] +
                                                          static_cast<std::ptrdiff_t>(a.files.size())));
    if (!BuildArchiveFromStreams(mine, &a.image, error)) {
      *error = a.hostPath + ": " + *error;
      return false;
    }
  }

  // The resources: the stub's own, less the archives it may carry and what
  // the publisher replaces, then the payload's archives.
  std::uint16_t fixedLanguage = 0;
  std::vector<std::uint16_t> replacedIcons;
  for (const PeResource& r : stubResources) {
    if (r.type == kBitmapType && r.name == kSplashBitmap) fixedLanguage = r.language;
    if (!request.icon.empty() && r.type == kGroupIconType && r.name == kIconGroup) {
      for (std::uint32_t k = 0; 6 + 14 * (k + 1) <= r.size && k < static_cast<std::uint32_t>(r.data[4] | r.data[5] << 8);
           ++k) {
        const std::uint8_t* e = r.data + 6 + 14 * k;
        replacedIcons.push_back(static_cast<std::uint16_t>(e[12] | e[13] << 8));
      }
    }
  }
  std::vector<ResourceItem> items;
  std::vector<std::uint16_t> usedIcons;
  for (const PeResource& r : stubResources) {
    if (SameAsciiName(r.type, kArchiveResourceType)) continue;
    if (!splash.empty() && r.type == kBitmapType && r.name == kSplashBitmap) continue;
    if (!request.icon.empty() && r.type == kGroupIconType && r.name == kIconGroup) continue;
    if (request.version && r.type == kVersionType) continue;
    if (r.type == kIconType) {
      const std::uint16_t id =
          static_cast<std::uint16_t>(std::strtoul(r.name.c_str() + (r.name[0] == '#'), nullptr, 10));
      bool replaced = false;
      for (std::uint16_t old : replacedIcons) replaced |= old == id;
      if (replaced) continue;
      usedIcons.push_back(id);
    }
    items.push_back(ResourceItem{r.type, r.name, r.language, r.data, r.size});
  }
  if (!splash.empty()) {
    items.push_back(ResourceItem{kBitmapType, kSplashBitmap, fixedLanguage, splash.data(),
                                 static_cast<std::uint32_t>(splash.size())});
  }
  std::vector<std::uint8_t> group;
  if (!request.icon.empty()) {
    std::uint16_t firstId = 1;
    for (std::uint16_t id : usedIcons) firstId = std::max<std::uint16_t>(firstId, id + 1);
    group = icons.Group(firstId);
    for (std::size_t k = 0; k < icons.images.size(); ++k) {
      items.push_back(ResourceItem{kIconType, "#" + std::to_string(firstId + k), fixedLanguage,
                                   icons.images[k].data(),
                                   static_cast<std::uint32_t>(icons.images[k].size())});
    }
    items.push_back(ResourceItem{kGroupIconType, kIconGroup, fixedLanguage, group.data(),
                                 static_cast<std::uint32_t>(group.size())});
  }
  std::vector<std::uint8_t> version;
  if (request.version) {
    VersionInfo info = request.versionInfo;
    if (info.originalName.empty()) info.originalName = BaseName(request.output);
    version = VersionResource(info);
    items.push_back(ResourceItem{kVersionType, "#1", 0x0409, version.data(),
                                 static_cast<std::uint32_t>(version.size())});
  }
  for (const Archive& a : archives) {
    items.push_back(ResourceItem{kArchiveResourceTypeStored, a.name, kArchiveLanguage,
                                 a.image.data(), static_cast<std::uint32_t>(a.image.size())});
    result->archiveBytes += a.image.size();
    result->archiveNames.push_back(a.name);
  }

  std::vector<std::uint8_t> section;
  if (!BuildResourceSection(items, layout.resourceRva, &section, error)) return false;
  std::vector<std::uint8_t> image;
  const std::uint32_t stamp =
      request.sourceDateEpoch
          ? static_cast<std::uint32_t>(std::min<std::int64_t>(*request.sourceDateEpoch, 0xFFFFFFFFll))
          : 0;
  if (!ReplaceResourceSection(stub, layout, section, stamp, &image, error)) {
    *error = request.output + ": " + *error;
    return false;
  }
  std::vector<std::uint8_t>().swap(section);

  if (!request.archivesDir.empty()) {
    if (!MakeFolders(request.archivesDir, error)) return false;
    for (const Archive& a : archives) {
      if (!WriteFileIfChanged(Join(request.archivesDir, a.name + ".kvarc"), a.image, error)) {
        return false;
      }
    }
    for (const char* name : kArchiveNames) {
      bool present = false;
      for (const Archive& a : archives) present |= a.name == name;
      if (!present &&
          !RemoveFileIfPresent(Join(request.archivesDir, std::string(name) + ".kvarc"), error)) {
        return false;
      }
    }
    const std::string rc = ResourceScript(archives, request.archivesDir);
    if (!WriteFileIfChanged(Join(request.archivesDir, "payload.rc"),
                            std::vector<std::uint8_t>(rc.begin(), rc.end()), error)) {
      return false;
    }
  }
  std::vector<BuiltArchive> built;
  for (const Archive& a : archives) {
    built.push_back(BuiltArchive{a.name, a.image.size(),
                                 a.ready ? ReadArchiveDirectory(a.image.data(), a.image.size()).count
                                         : a.files.size()});
  }
  if (!CheckBuiltSetup(image.data(), image.size(), built, !request.uncheckedArchives, error)) {
    *error = request.output + ": not written: the setup kvpack built does not read back (" +
             *error + "); this is a fault of kvpack, please report it";
    return false;
  }
  if (!WriteWholeFile(request.output, image, error)) return false;
  result->archives = archives.size();
  for (const Archive& a : archives) {
    result->entries += a.ready ? ReadArchiveDirectory(a.image.data(), a.image.size()).count
                               : a.files.size();
  }
  result->bytes = image.size();
  return true;
}

}  // namespace kv
