#include "tools/kvpack/setup/setup_builder.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "pe/pe_resources.h"
#include "tools/kvpack/payload/folder_scan.h"
#include "tools/kvpack/payload/ansi_names.h"
#include "tools/kvpack/host/host_files.h"
#include "tools/kvpack/payload/install_names.h"
#include "tools/kvpack/compress/parallel_deflate.h"
#include "pe/image_rewriter.h"
#include "pe/resource_section.h"
#include "tools/kvpack/setup/setup_check.h"

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
  std::vector<FileToPack> files;  // of a folder
  std::uint64_t readySize = 0;    // of a .kvarc file, as checked
  FileIdentity readyIdentity;     // of a .kvarc file, as the scan saw it
  std::uint32_t readyEntries = 0;
  // A .kvarc file from its check to its copy: opened once, so the bytes
  // copied are those of the file that was checked.
  std::shared_ptr<MappedFile> readyFile;
  // Where it landed in the resource section, and its size.
  std::uint64_t sectionOffset = 0;
  std::uint32_t size = 0;
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

bool IsUnpacked(const std::string& archive) {
  for (std::size_t k = 0; k < kUnpackedCount; ++k) {
    if (archive == kArchiveNames[k]) return true;
  }
  return false;
}

// Maps a ready archive and checks it entry by entry (unless told not to);
// *dir gets its directory.
bool CheckReadyArchive(Archive* a, bool inflate, ArchiveDirectory* dir, std::string* error) {
  if (a->readySize > kMaxArchiveSize) {
    *error = a->hostPath + ": larger than the archive format's 4 GiB";
    return false;
  }
  a->readyFile = std::make_shared<MappedFile>();
  MappedFile& image = *a->readyFile;
  if (!image.OpenScanned(a->hostPath, a->readyIdentity, a->readySize, error)) return false;
  static const std::uint8_t kNothing = 0;
  *dir = ReadArchiveDirectory(image.size() != 0 ? image.data() : &kNothing, image.size());
  a->readyEntries = dir->count;
  if (!inflate) return true;
  std::string why;
  if (!dir->ok() || !CheckEntryRanges(*dir, &why)) {
    *error = a->hostPath + ": damaged archive: " + (dir->ok() ? why : dir->error);
    return false;
  }
  for (const ArchiveEntry& e : dir->entries) {
    const std::uint8_t* bytes = image.Piece(image.data() + e.dataOffset, e.compressedLength);
    if (bytes == nullptr) {
      *error = a->hostPath + ": cannot be read: the system gave no view of entry " +
               std::to_string(&e - &dir->entries[0]);
      return false;
    }
    const EntryFault fault =
        InflateEntry(bytes, e.compressedLength, e.uncompressedLength, nullptr, &why);
    if (fault != EntryFault::kNone) {
      *error = a->hostPath + ": damaged archive: entry " + std::to_string(&e - &dir->entries[0]) +
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


// --- the stub ---------------------------------------------------------------

struct Stub {
  std::vector<std::uint8_t> bytes;
  StubLayout layout;
  std::vector<PeResource> resources;  // point into bytes
};

// Reads the launcher stub and checks that it can be rebuilt: without a
// usable one nothing else matters.
bool ReadStub(const std::string& path, Stub* stub, std::string* error) {
  if (!ReadWholeFile(path, &stub->bytes, error)) return false;
  if (!InspectStub(stub->bytes, &stub->layout, error)) {
    *error = path + ": cannot be used as the launcher stub: " + *error;
    return false;
  }
  if (!FindPeResources(stub->bytes.data(), stub->bytes.size(), "", &stub->resources, error)) {
    *error = path + ": cannot be used as the launcher stub: " + *error;
    return false;
  }
  return true;
}

// --- the payload --------------------------------------------------------------

// Finds the payload's archives and every file of its folders (not read yet).
bool ReadPayload(const SetupRequest& request, std::vector<Archive>* archives, std::string* error) {
  if (!FindArchives(request.payload, archives, error)) return false;
  for (Archive& a : *archives) {
    if (a.ready) {
      FolderItem item;
      if (!StatPath(a.hostPath, &item, error)) return false;
      a.readySize = item.size;
      a.readyIdentity = item.identity;
    } else if (!ScanFolder(a.hostPath, request.sourceDateEpoch, &a.files, error)) {
      return false;
    }
  }
  return true;
}

// --- the checks ---------------------------------------------------------------

// Checks the ready archives and what the launcher will start and its
// cleanup script will call, before the long part.
bool CheckPayload(const SetupRequest& request, std::vector<Archive>* archives,
                  SetupResult* result, std::string* error) {
  bool stage = false;
  bool holdproc = false;
  // The names of the archives the launcher unpacks meet in its work folder;
  // each archive left for the second stage unpacks on its own.
  std::vector<InstallName> unpackedNames;
  for (std::size_t i = 0; i < archives->size(); ++i) {
    Archive& a = (*archives)[i];
    const bool unpacked = IsUnpacked(a.name);
    std::vector<InstallName> installNames;
    if (a.ready) {
      ArchiveDirectory dir;
      if (!CheckReadyArchive(&a, !request.uncheckedArchives, &dir, error)) return false;
      if (unpacked) {
        stage |= HasTopLevel(dir, "StageRun.exe");
        holdproc |= HasTopLevel(dir, "holdproc.exe");
      }
      for (const ArchiveEntry& e : dir.entries) {
        installNames.push_back({e.name, a.hostPath + ": entry " + AnsiForDisplay(e.name), i});
      }
    } else {
      if (unpacked) {
        stage |= HasTopLevel(a.files, "StageRun.exe");
        holdproc |= HasTopLevel(a.files, "holdproc.exe");
      }
      for (const FileToPack& f : a.files) installNames.push_back({f.name, f.hostPath, i});
    }
    if (unpacked) {
      unpackedNames.insert(unpackedNames.end(), installNames.begin(), installNames.end());
    } else if (!CheckInstallNames(installNames, error)) {
      return false;
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
  return true;
}

// --- the publisher's resources ------------------------------------------------

// Every resource of the new section but the archives: the stub's own, less
// the archives it may carry and what the publisher replaces, and the
// publisher's picture, icon and version. `owned` keeps the bytes that the
// items point to and that the stub does not hold.
bool PublisherResources(const SetupRequest& request, const Stub& stub,
                        std::vector<ResourceItem>* items,
                        std::deque<std::vector<std::uint8_t>>* owned, std::string* error) {
  const std::vector<std::uint8_t>* splash = nullptr;
  if (!request.splash.empty()) {
    std::vector<std::uint8_t> file;
    if (!ReadWholeFile(request.splash, &file, error)) return false;
    owned->emplace_back();
    if (!SplashFromBmp(file, &owned->back(), error)) {
      *error = request.splash + ": cannot be the splash picture: " + *error;
      return false;
    }
    splash = &owned->back();
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

  std::uint16_t fixedLanguage = 0;
  std::vector<std::uint16_t> replacedIcons;
  for (const PeResource& r : stub.resources) {
    if (r.type == kBitmapType && r.name == kSplashBitmap) fixedLanguage = r.language;
    if (!request.icon.empty() && r.type == kGroupIconType && r.name == kIconGroup) {
      const std::vector<std::uint16_t> ids = IconGroupIds(r.data, r.size);
      replacedIcons.insert(replacedIcons.end(), ids.begin(), ids.end());
    }
  }
  std::vector<std::uint16_t> usedIcons;
  for (const PeResource& r : stub.resources) {
    if (SameAsciiName(r.type, kArchiveResourceType)) continue;
    if (splash != nullptr && r.type == kBitmapType && r.name == kSplashBitmap) continue;
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
    items->push_back(ResourceItem{r.type, r.name, r.language, r.data, r.size});
  }
  if (splash != nullptr) {
    items->push_back(ResourceItem{kBitmapType, kSplashBitmap, fixedLanguage, splash->data(),
                                  static_cast<std::uint32_t>(splash->size())});
  }
  if (!request.icon.empty()) {
    std::uint16_t firstId = 1;
    for (std::uint16_t id : usedIcons) firstId = std::max<std::uint16_t>(firstId, id + 1);
    std::vector<std::uint8_t> group = icons.Group(firstId);
    for (std::size_t k = 0; k < icons.images.size(); ++k) {
      owned->push_back(std::move(icons.images[k]));
      items->push_back(ResourceItem{kIconType, "#" + std::to_string(firstId + k), fixedLanguage,
                                    owned->back().data(),
                                    static_cast<std::uint32_t>(owned->back().size())});
    }
    owned->push_back(std::move(group));
    items->push_back(ResourceItem{kGroupIconType, kIconGroup, fixedLanguage, owned->back().data(),
                                  static_cast<std::uint32_t>(owned->back().size())});
  }
  if (request.version) {
    VersionInfo info = request.versionInfo;
    if (info.originalName.empty()) info.originalName = BaseName(request.output);
    owned->push_back(VersionResource(info));
    items->push_back(ResourceItem{kVersionType, "#1", 0x0409, owned->back().data(),
                                  static_cast<std::uint32_t>(owned->back().size())});
  }
  return true;
}

// What the setup's image takes at least: the ready archives as they are
// and each packed file's smallest stream (a deflate
// stream cannot shrink its input more than about 1032 times). Refuses, in
// one line with both figures, a payload that cannot fit the image a 32-bit
// process maps, before anything is compressed.
bool CheckImageBound(const SetupRequest& request, const std::vector<Archive>& archives,
                     const SetupImageWriter& image, std::string* error) {
  std::uint64_t least = 0;
  for (const Archive& a : archives) {
    least += a.ready ? a.readySize : 8;
    for (const FileToPack& f : a.files) least += 8 + f.size / 1032 + kRecordFixedSize;
  }
  const std::uint64_t size = image.ImageSize(least);
  if (size > kMaxSetupImage) {
    *error = request.payload + ": the setup would need an image (SizeOfImage) of at least " +
             std::to_string(size) + " bytes; a 32-bit Windows process maps at most " +
             std::to_string(kMaxSetupImage);
    return false;
  }
  return true;
}

// --- the archives -------------------------------------------------------------

// The resource section as the archives' sink: it refuses, in one line that
// names what was being written, bytes that take the image past what a
// 32-bit process maps.
class BoundedSection final : public ByteSink {
 public:
  BoundedSection(const SetupRequest& request, SetupImageWriter* image)
      : request_(request), image_(image) {}
  void Writing(std::string what) { current_ = std::move(what); }

  bool Append(const std::uint8_t* bytes, std::size_t count, std::string* error) override {
    if (!image_->Append(bytes, count, error)) return false;
    if (image_->ImageSize(image_->Size()) > kMaxSetupImage) {
      *error = request_.payload + ": the setup would need an image (SizeOfImage) of more than " +
               std::to_string(kMaxSetupImage) + " bytes, the most a 32-bit Windows process "
               "maps; its archives pass that in " + current_;
      return false;
    }
    return true;
  }
  bool WriteAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count,
               std::string* error) override {
    return image_->WriteAt(offset, bytes, count, error);
  }
  bool ReadAt(std::uint64_t offset, std::uint8_t* bytes, std::size_t count,
              std::string* error) override {
    return image_->ReadAt(offset, bytes, count, error);
  }
  std::uint64_t Size() const override { return image_->Size(); }

 private:
  const SetupRequest& request_;
  SetupImageWriter* image_;
  std::string current_;  // what is being written, for messages
};

// Writes the resource section into the image, front to back: room for the
// directory, then every resource's data in directory order, the archives
// among them as they are packed (a folder's files compressed in parallel,
// in order, straight into the file through ArchiveWriter; a ready archive
// copied in blocks), then the directory over the room left for it.
class ResourceStream {
 public:
  ResourceStream(const SetupRequest& request, std::vector<Archive>* archives,
                 const std::vector<ResourceItem>& others, SetupImageWriter* image)
      : archives_(*archives), image_(image), section_(request, image), level_(request.level) {
    for (const Archive& a : archives_) {
      items_.push_back(ResourceItem{kArchiveResourceTypeStored, a.name, kArchiveLanguage, nullptr, 0});
    }
    items_.insert(items_.end(), others.begin(), others.end());
  }

  bool Write(std::uint32_t sectionRva, std::string* error) {
    if (!plan_.Plan(items_, error)) return false;
    offsets_.assign(items_.size(), 0);
    sizes_.assign(items_.size(), 0);
    const std::vector<std::uint8_t> room(plan_.DataStart(), 0);
    if (!image_->Append(room.data(), room.size(), error)) return false;

    // The folders' files, in the order their archives' data lie.
    std::vector<FileToPack> files;
    for (std::size_t index : plan_.DataOrder()) {
      if (index >= archives_.size() || archives_[index].ready) continue;
      for (const FileToPack& f : archives_[index].files) {
        files.push_back(f);
        fileArchive_.push_back(index);
      }
    }
    CompressedSink sink;
    sink.bytes = [this](std::size_t file, const std::uint8_t* bytes, std::size_t count,
                        std::string* e) { return EntryBytes(file, bytes, count, e); };
    sink.done = [this](std::size_t file, std::uint64_t, std::string* e) {
      return EntryDone(file, e);
    };
    files_ = &files;
    if (!CompressFiles(files, level_, sink, error)) return false;
    if (!CloseArchive(error) || !WriteUpTo(plan_.DataOrder().size(), error)) return false;
    if (!Pad(error)) return false;
    const std::vector<std::uint8_t> directory = plan_.Directory(sectionRva, offsets_, sizes_);
    return image_->WriteAt(0, directory.data(), directory.size(), error);
  }

 private:
  // Aligns the next resource's data to 8 bytes.
  bool Pad(std::string* error) {
    static const std::uint8_t kZeros[8] = {};
    const std::size_t n = static_cast<std::size_t>((8 - image_->Size() % 8) % 8);
    return image_->Append(kZeros, n, error);
  }

  // Writes every resource in directory order before position `stop` that
  // is not a folder archive, and opens the folder archive at `stop`.
  bool WriteUpTo(std::size_t stop, std::string* error) {
    const std::vector<std::size_t>& order = plan_.DataOrder();
    for (; position_ < stop; ++position_) {
      const std::size_t index = order[position_];
      if (!Pad(error)) return false;
      offsets_[index] = static_cast<std::uint32_t>(image_->Size());
      if (index < archives_.size()) {
        Archive& a = archives_[index];
        if (!a.ready) {  // opened by its first file, which comes before this
          *error = a.hostPath + ": internal error: its files were not written";
          return false;
        }
        section_.Writing(a.hostPath);
        if (!CopyReady(a, error)) return false;
        sizes_[index] = a.size;
      } else {
        section_.Writing("resource " + PrintableText(items_[index].type) + " " +
                         PrintableText(items_[index].name));
        if (!section_.Append(items_[index].data, items_[index].size, error)) return false;
        sizes_[index] = items_[index].size;
      }
    }
    return true;
  }

  bool CopyReady(Archive& a, std::string* error) {
    constexpr std::uint64_t kBlock = 1 << 20;
    a.sectionOffset = image_->Size();
    a.size = static_cast<std::uint32_t>(a.readySize);
    MappedFile& file = *a.readyFile;
    for (std::uint64_t at = 0; at < a.readySize; at += kBlock) {
      const std::size_t n = static_cast<std::size_t>(std::min(kBlock, a.readySize - at));
      const std::uint8_t* block = file.Piece(file.data() + at, n);
      if (block == nullptr) {
        *error = a.hostPath + ": cannot be read: the system gave no view of its bytes";
        return false;
      }
      if (!section_.Append(block, n, error)) return false;
    }
    a.readyFile.reset();
    return true;
  }

  bool EntryBytes(std::size_t file, const std::uint8_t* bytes, std::size_t count,
                  std::string* error) {
    const std::size_t index = fileArchive_[file];
    if (open_ != index) {
      if (!CloseArchive(error)) return false;
      std::size_t stop = position_;
      while (plan_.DataOrder()[stop] != index) ++stop;
      if (!WriteUpTo(stop, error) || !Pad(error)) return false;
      ++position_;
      Archive& a = archives_[index];
      section_.Writing(a.hostPath);
      if (!writer_.Begin(&section_, error)) return false;
      a.sectionOffset = writer_.Start();
      offsets_[index] = static_cast<std::uint32_t>(a.sectionOffset);
      open_ = index;
    }
    section_.Writing(archives_[index].hostPath + PathSeparator() + (*files_)[file].name);
    return writer_.Append(bytes, count, error);
  }

  bool EntryDone(std::size_t file, std::string* error) {
    const FileToPack& f = (*files_)[file];
    if (writer_.EndEntry(f.name, static_cast<std::uint32_t>(f.size), f.times, error)) return true;
    *error = archives_[open_].hostPath + ": " + *error;
    return false;
  }

  // Ends the open folder archive with its directory.
  bool CloseArchive(std::string* error) {
    if (open_ == kNone) return true;
    Archive& a = archives_[open_];
    section_.Writing(a.hostPath);
    if (!writer_.Finish(error)) return false;
    a.size = static_cast<std::uint32_t>(writer_.Size());
    sizes_[open_] = a.size;
    open_ = kNone;
    return true;
  }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<Archive>& archives_;
  SetupImageWriter* image_;
  BoundedSection section_;
  int level_;
  std::vector<ResourceItem> items_;  // the archives first, then the others
  ResourcePlan plan_;
  std::vector<std::uint32_t> offsets_, sizes_;
  const std::vector<FileToPack>* files_ = nullptr;
  std::vector<std::size_t> fileArchive_;  // item index of each file's archive
  std::size_t position_ = 0;              // in the directory order: written before it
  std::size_t open_ = kNone;              // the folder archive being written
  ArchiveWriter writer_;                  // of the open folder archive
};

// --- the image ----------------------------------------------------------------

// Completes the headers and the checksum, leaves the archives in
// request.archivesDir if asked, and gives the file its name.
bool FinishImage(const SetupRequest& request, const std::vector<Archive>& archives,
                 SetupImageWriter* image, OutputFile* out, std::string* error) {
  const std::uint32_t stamp =
      request.sourceDateEpoch
          ? static_cast<std::uint32_t>(std::min<std::int64_t>(*request.sourceDateEpoch, 0xFFFFFFFFll))
          : 0;
  if (!image->Finish(stamp, error)) {
    *error = request.output + ": " + *error;
    return false;
  }
  if (!request.archivesDir.empty()) {
    if (!MakeFolders(request.archivesDir, error)) return false;
    for (const Archive& a : archives) {
      // One archive at a time, read back from the image.
      std::vector<std::uint8_t> bytes(a.size);
      if (!image->ReadAt(a.sectionOffset, bytes.data(), bytes.size(), error) ||
          !WriteFileIfChanged(Join(request.archivesDir, a.name + ".kvarc"), bytes, error)) {
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
  // The file is read back as `kvpack verify` reads a setup from anywhere
  // before it takes the output's name: a fault of the rebuild must never
  // reach a publisher as a setup that looks finished.
  std::vector<BuiltArchive> built;
  for (const Archive& a : archives) {
    built.push_back(BuiltArchive{a.name, a.size, a.ready ? a.readyEntries : a.files.size()});
  }
  return out->Commit(request.output, error, [&](const std::string& path, std::string* why) {
    MappedFile file;
    if (!file.Open(path, why)) return false;
    if (CheckBuiltSetup(file.data(), file.size(), built, !request.uncheckedArchives, why,
                        file.Lender())) {
      return true;
    }
    *why = request.output + ": not written: the setup kvpack built does not read back (" + *why +
           "); this is a fault of kvpack, please report it";
    return false;
  });
}

}  // namespace

bool BuildSetup(const SetupRequest& request, SetupResult* result, std::string* error) {
  *result = SetupResult{};
  Stub stub;
  if (!ReadStub(request.stub, &stub, error)) return false;
  std::vector<Archive> archives;
  if (!ReadPayload(request, &archives, error)) return false;
  SetupImageWriter image;
  if (!image.Prepare(stub.bytes, stub.layout, error) ||
      !CheckImageBound(request, archives, image, error) ||
      !CheckPayload(request, &archives, result, error)) {
    return false;
  }
  std::vector<ResourceItem> resources;
  std::deque<std::vector<std::uint8_t>> owned;
  if (!PublisherResources(request, stub, &resources, &owned, error)) return false;
  OutputFile out;
  if (!out.Create(request.output + ".kvpack-tmp", error) || !image.Begin(&out, error)) return false;
  ResourceStream stream(request, &archives, resources, &image);
  if (!stream.Write(stub.layout.resourceRva, error)) return false;
  if (!FinishImage(request, archives, &image, &out, error)) return false;

  result->archives = archives.size();
  for (const Archive& a : archives) {
    result->entries += a.ready ? a.readyEntries : a.files.size();
    result->archiveBytes += a.size;
    result->archiveNames.push_back(a.name);
  }
  result->bytes = out.Size();
  return true;
}

}  // namespace kv
