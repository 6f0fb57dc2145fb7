// The temporary folder of a run: the folder its work folder and cleanup
// script are created in, opened and checked through a handle that the run
// holds while it writes there.
//
// An elevated run never works in the user's own TMP/TEMP: every other
// process of the user controls that folder completely. It takes the
// machine's temporary folder instead, the TMP (else TEMP) value of
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment, or,
// when that value is missing, unusable or names a folder that cannot be
// trusted, <Windows folder>\TEMP. Users may create entries there but may
// neither rename nor delete what an administrator made. A folder is trusted
// only when nobody but SYSTEM, the administrators and TrustedInstaller may
// rename or delete it, or change its access, nor that of a folder above it
// (FolderDescriptorHolds). Nothing of the
// user's (the process's environment, a file, the command line) can steer
// the choice. A run without elevation has no boundary to defend and takes
// the user's temporary folder as the system reports it.
#pragma once

#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv {

// A string value as the registry holds it.
struct RegistryString {
  bool present = false;
  DWORD type = REG_NONE;  // REG_SZ or REG_EXPAND_SZ; anything else is unusable
  std::wstring data;      // without the terminating zero
};

// Reads one value of the machine's environment key; `present` is false
// when it is missing or cannot be read.
using MachineValueReader = RegistryString (*)(const wchar_t* name);
RegistryString ReadMachineEnvironmentValue(const wchar_t* name);

// The folder that a value of the machine's environment names, ending in a
// backslash, or empty when the value is unusable. A REG_SZ value is taken
// as it stands (a % in it is part of a folder name); in a REG_EXPAND_SZ
// value %SystemRoot% and %windir% (in any case) become `windowsFolder`,
// and any other %NAME%, or a lone %, makes the value unusable. The result
// must be a full path that begins with a drive letter, a colon and a
// backslash.
std::wstring MachineTempFolderFromValue(const RegistryString& value,
                                        const std::wstring& windowsFolder);

// The Windows folder (GetSystemWindowsDirectoryW), without a trailing
// backslash; "C:\Windows" when the call fails.
std::wstring SystemWindowsFolder();

// What a run needs to know of the volume a file or folder lies on.
struct VolumeFacts {
  bool persistentAcls = false;  // the file system keeps access lists (not FAT, exFAT)
  bool local = false;           // not a network drive
};

// Reads the facts for the volume of the open `handle`; false when they
// cannot be read.
using VolumeReader = bool (*)(HANDLE handle, VolumeFacts* facts);
bool ReadVolumeFacts(HANDLE handle, VolumeFacts* facts);

// For tests: VolumeKeepsAccessLists asks `reader` instead of the system;
// null restores the system's. (Wine reports every drive as a local one
// with access lists.)
void SetVolumeReaderForTesting(VolumeReader reader);

// True when the volume of the open `handle` is local and keeps access
// lists, so that an access list given at creation is not silently dropped.
bool VolumeKeepsAccessLists(HANDLE handle);

// The path the system reports for the open `handle` (links and junctions
// resolved), with its drive letter ("C:\..."), or "\\?\UNC\..." for a
// network path; empty when it cannot.
std::wstring FinalPath(HANDLE handle);

// The SIDs a machine's temporary folder may leave its changes to: SYSTEM,
// the built-in administrators and TrustedInstaller (the owner of the
// Windows folder). OWNER RIGHTS counts with them: FolderDescriptorHolds
// requires a trusted owner.
bool IsTrustedFolderSid(PSID sid);

// True when `descriptor` (owner and access list of a folder) lets nobody
// but the trusted SIDs rename or delete the folder, change its access or
// remove what it holds: the owner is trusted, the access list is there and
// not null, and no allow entry for anybody else gives DELETE, WRITE_DAC,
// WRITE_OWNER or FILE_DELETE_CHILD, with generic rights mapped to the file
// rights. An entry that applies to children only (inherit-only) does not
// count; deny entries are not relied on. The right to create files and
// folders inside is no reason to refuse. FILE_DELETE_CHILD counts on the
// folder itself as on the folders above it: with it, a user could rename
// the run's cleanup script away between its lines and put another in its
// place, whatever the script's own list says.
bool FolderDescriptorHolds(PSECURITY_DESCRIPTOR descriptor);

// Reads the owner and access list of the open `handle` (which carries
// READ_CONTROL) into `*descriptor`; false when it cannot.
using SecurityReader = bool (*)(HANDLE handle, std::vector<BYTE>* descriptor);
bool ReadSecurity(HANDLE handle, std::vector<BYTE>* descriptor);

// For tests: FolderChainHolds asks `reader` instead of the system; null
// restores the system's. (Wine keeps no access list but derives one from
// the Unix owner, so the system's reading is skipped there.)
void SetSecurityReaderForTesting(SecurityReader reader);

// True when the folder open as `folder` (with READ_CONTROL), whose final
// path is `path` (a drive path), and every folder above it up to the
// drive's root satisfy FolderDescriptorHolds. The folders above are opened
// by the path, without following a link; they cannot be renamed while the
// folder below them is held. Under Wine, without an injected reader, true:
// every process of the Unix user has the same rights there, so there is no
// boundary between a user's processes to defend.
bool FolderChainHolds(HANDLE folder, const std::wstring& path);

// The run's temporary folder, open.
class TempFolder {
 public:
  // Opens the folder `path` (a full path ending in a backslash) as a
  // directory, without delete sharing, so that it cannot be renamed or
  // removed while held. With `checked`, the folder itself must be no
  // reparse point (the handle is the folder's own, not what a link leads
  // to), its volume must be local and keep access lists, and the path the
  // run uses is the folder's final path as the system reports it through
  // the handle (links above it resolved); without, the path stays as
  // given; and FolderChainHolds for it. False when the folder cannot be
  // opened (`*error` holds the system's error code) or fails a check
  // (`*error` is 0).
  bool Open(const std::wstring& path, bool checked, DWORD* error);

  HANDLE Handle() const { return handle_.Get(); }

  // The folder's path, ending in a backslash.
  const std::wstring& Path() const { return path_; }

  // Lets go of the folder.
  void Release() { handle_.Reset(); }

 private:
  ScopedFileHandle handle_;
  std::wstring path_;
};

// Opens the temporary folder of a run. Elevated: the machine's folder
// (through `reader`), else, when that is missing, unusable or fails a
// check, <Windows folder>\TEMP; both checked. False when neither can be
// used; `*refused` then names the folder tried last. Not elevated: the
// user's temporary folder (SystemTemporaryFolder), unchecked; false when
// it cannot be opened, with `*refused` naming it.
bool OpenRunTempFolder(bool elevated, MachineValueReader reader, TempFolder* folder,
                       std::wstring* refused, DWORD* error);

}  // namespace kv
