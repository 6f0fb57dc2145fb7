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
// neither rename nor delete what an administrator made. Nothing of the
// user's (the process's environment, a file, the command line) can steer
// the choice. A run without elevation has no boundary to defend and takes
// the user's temporary folder as the system reports it.
#pragma once

#include <string>

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
  // given. False when the folder cannot be opened (`*error` holds the
  // system's error code) or fails a check (`*error` is 0).
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
