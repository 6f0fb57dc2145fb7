// What keeps the elevated launcher from running code that someone else
// placed: the DLLs it imports, the machine's temporary folder it works in,
// the access lists of its work folder and script read back through their
// handles, and the handles that keep them in place. Wine reports every
// drive as local with access lists, so the volume facts are injected.
#include <gtest/gtest.h>


#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "launcher/temp_folder.h"
#include "launcher/work_folder.h"
#include "platform/scoped_handle.h"
#include "platform/system_library.h"
#include "platform/win32.h"
#include "tests/support/pe_tables.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

namespace kv::test {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// DLLs that the system maps from its own folder whatever the search order
// (the KnownDLLs of the supported systems).
const char* const kKnownDlls[] = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll",   "imagehlp.dll", "kernel32.dll",
    "msvcrt.dll",   "ole32.dll",    "oleaut32.dll", "psapi.dll",   "rpcrt4.dll",
    "setupapi.dll", "shell32.dll",  "shlwapi.dll",  "user32.dll",  "ws2_32.dll",
};

// What a built setup asks the loader for: DLLs that come from the system
// folder by name alone, and, in its manifest, administrator rights and no
// side-by-side assembly (whose lookup would probe Setup.exe.local\ beside
// the setup, in the user's download folder).
TEST(Security, TheExecutableLoadsOnlyKnownSystemDllsAndNoAssembly) {
  std::vector<std::string> names;
  std::string error;
  const std::string setup = GetEnv("KV_SETUP_EXE");
  ASSERT_TRUE(ReadImportedDllNames(setup, &names, &error)) << error;
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    const bool known = std::any_of(std::begin(kKnownDlls), std::end(kKnownDlls),
                                   [&](const char* dll) { return Lower(name) == dll; });
    EXPECT_TRUE(known) << name << " is not loaded from the system folder by name alone";
  }

  const std::string built = GetEnv("KV_STAGE_SETUP_EXE");  // made by kvpack from the stub
  ScopedModule image(::LoadLibraryExA(built.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(image.IsValid()) << built;
  HRSRC found = ::FindResourceA(image.Get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr) << "no manifest";
  const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(image.Get(), found)));
  ASSERT_NE(bytes, nullptr);
  const std::string manifest(bytes, ::SizeofResource(image.Get(), found));
  EXPECT_EQ(manifest.find("dependency"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("<assemblyIdentity type=\"win32\" name=\"Kalvora RozedEvud Setup\" "
                          "version=\"1.0.0.0\""),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
}

std::string Narrow(const std::wstring& text) {
  char buffer[1024] = "";
  ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer, sizeof buffer, nullptr, nullptr);
  return buffer;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
         CSTR_EQUAL;
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!::ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result(text);
  ::LocalFree(text);
  return result;
}

// The SIDs that the allow entries of `descriptor` name, in order.
std::vector<std::string> AllowedSids(PSECURITY_DESCRIPTOR descriptor) {
  std::vector<std::string> sids;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !dacl) return sids;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (::GetAce(dacl, i, &ace) &&
        static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      sids.push_back(SidText(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
    }
  }
  return sids;
}

struct Descriptor {
  explicit Descriptor(const char* sddl) {
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr))
        << sddl;
  }
  ~Descriptor() { ::LocalFree(descriptor); }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
};

// The descriptors an elevated run gives its work folder and script, and the
// rule by which it reads them back: nobody but SYSTEM and the
// administrators may do anything, not even read.
TEST(Security, OnlySystemAndTheAdministratorsReachTheWorkFolderAndTheScript) {
  const struct {
    const char* sddl;
    bool keepsOthersOut;
  } cases[] = {
      {kProtectedFolderSddl, true},
      {kProtectedFileSddl, true},
      {"O:SYD:P(A;;FA;;;SY)", true},
      {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(D;;FA;;;BU)", true},  // a deny entry only takes away
      {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)", false},  // Users may read
      {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)", false},
      {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)", false},  // the owner, whoever it is
      {"O:S-1-5-21-1-2-3-1000D:P(A;;FA;;;SY)(A;;FA;;;BA)", false},  // owned by a user
      {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-1000)", false},
      {"O:BA", false},     // no access list at all
  };
  for (const auto& c : cases) {
    Descriptor d(c.sddl);
    ASSERT_NE(d.descriptor, nullptr);
    EXPECT_EQ(DescriptorKeepsOthersOut(d.descriptor), c.keepsOthersOut) << c.sddl;
  }
  // A null list lets everybody in.
  Descriptor folder(kProtectedFolderSddl);
  PSID administrators = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorOwner(folder.descriptor, &administrators, &defaulted));
  SECURITY_DESCRIPTOR nullList;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&nullList, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&nullList, administrators, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&nullList, TRUE, nullptr, FALSE));
  EXPECT_FALSE(DescriptorKeepsOthersOut(&nullList));

  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(folder.descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder would inherit the temp folder's list";
  // OWNER RIGHTS (S-1-3-4): whoever owns a file inside may read its access
  // list and no more.
  EXPECT_EQ(AllowedSids(folder.descriptor),
            (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544", "S-1-3-4"}));
}

// Stock descriptors of a fresh Windows 10/11 (owner and access list), and
// folders an administrator might make the machine's TMP/TEMP.
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::string kStockDrive =  // C:\ : users may add folders; Modify is for what is made inside
    std::string("O:") + kTrustedInstaller +
    "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
    "(A;;LC;;;AU)";
const std::string kStockWindows =
    std::string("O:") + kTrustedInstaller + "D:PAI(A;;FA;;;" + kTrustedInstaller +
    ")(A;CIIO;GA;;;" + kTrustedInstaller +
    ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    "(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
    "(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)";
const std::string kStockWindowsTemp =  // users may create files and folders, no more
    "O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x100026;;;BU)(A;OICIIO;FA;;;CO)";
// A folder an administrator made under C:\: it inherits the drive's
// inherit-only Modify, which applies to it (DELETE among it).
const std::string kMadeUnderDrive =
    "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"
    "(A;OICIIOID;SDGXGWGR;;;AU)";

// Who may rename or delete a machine's temporary folder or change its
// access, or that of a folder above it: SYSTEM, the administrators and
// TrustedInstaller alone.
TEST(Security, OnlySystemTheAdministratorsAndTrustedInstallerMayChangeTheMachinesTemp) {
  const struct {
    std::string sddl;
    bool holds;
  } cases[] = {
      {kStockDrive, true},
      {kStockWindows, true},
      {kStockWindowsTemp, true},
      {kMadeUnderDrive, false},
      {"O:SYD:P(A;;FA;;;SY)(A;;0x100026;;;WD)", true},    // anybody may create inside
      {"O:SYD:P(A;;FA;;;SY)(A;OICIIO;GA;;;BU)", true},    // only for what is made inside
      {"O:SYD:P(A;;FA;;;SY)(A;;SD;;;BU)", false},         // DELETE: rename, remove
      {"O:SYD:P(A;;FA;;;SY)(A;;WD;;;AU)", false},         // WRITE_DAC
      {"O:SYD:P(A;;FA;;;SY)(A;;WO;;;AU)", false},         // WRITE_OWNER
      {"O:SYD:P(A;;FA;;;SY)(A;;0x40;;;BU)", false},       // FILE_DELETE_CHILD
      {"O:SYD:P(A;;FA;;;SY)(A;CI;GA;;;BU)", false},       // generic, mapped
      {"O:SYD:P(A;;FA;;;SY)(A;;GW;;;BU)", true},          // generic write: no deleting
      {"O:SYD:P(A;;FA;;;SY)(A;;FA;;;CO)", false},         // not inherit-only: not trusted
      {"O:SYD:P(A;;FA;;;SY)(A;;FA;;;OW)", true},          // the owner's, trusted here
      {"O:SYD:P(D;;FA;;;BU)(A;;FA;;;BU)", false},         // a deny entry is not relied on
      {"O:S-1-5-21-1-2-3-1000D:P(A;;FA;;;SY)", false},    // a user owns it
      {"O:SY", false},                                     // no access list
  };
  for (const auto& c : cases) {
    Descriptor d(c.sddl.c_str());
    ASSERT_NE(d.descriptor, nullptr) << c.sddl;
    EXPECT_EQ(FolderDescriptorHolds(d.descriptor), c.holds) << c.sddl;
  }
  Descriptor withList("O:SYD:P(A;;FA;;;SY)");
  SECURITY_DESCRIPTOR nullList;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&nullList, SECURITY_DESCRIPTOR_REVISION));
  PSID system = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorOwner(withList.descriptor, &system, &defaulted));
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&nullList, system, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&nullList, TRUE, nullptr, FALSE));
  EXPECT_FALSE(FolderDescriptorHolds(&nullList)) << "a null list lets everybody in";
}

// Reports a volume like a FAT stick or a network drive.
bool FatVolume(HANDLE, VolumeFacts* facts) {
  facts->persistentAcls = false;
  facts->local = true;
  return true;
}
bool NetworkVolume(HANDLE, VolumeFacts* facts) {
  facts->persistentAcls = true;
  facts->local = false;
  return true;
}
bool UnreadableVolume(HANDLE, VolumeFacts*) { return false; }

class VolumeReaderOverride {
 public:
  explicit VolumeReaderOverride(VolumeReader reader) { SetVolumeReaderForTesting(reader); }
  ~VolumeReaderOverride() { SetVolumeReaderForTesting(nullptr); }
};

// Work folder and script are created new, relative to the held temporary
// folder; protected, each is checked through its own handle.
TEST(Security, WorkFolderAndScriptAreCreatedNewAndCheckedThroughTheirHandles) {
  ScopedFolder temp;
  TempFolder root;
  DWORD error = 0;
  ASSERT_TRUE(root.Open(Widen(temp.path()), true, &error)) << error;
  EXPECT_TRUE(SameText(root.Path(), Widen(temp.path()))) << Narrow(root.Path());
  const std::string path = temp.path() + "KVGSetup0";
  {
    WorkFolder work;
    ASSERT_EQ(work.Create(root.Handle(), "KVGSetup0", true, &error), CreateOutcome::kCreated)
        << error;
    ASSERT_TRUE(work.IsHeld());
    // Read back through the handle: no entry for Users, Everyone or the
    // authenticated users. (Wine keeps no descriptor of its own but one
    // owned by the Unix user, which the run's rule refuses as it must; the
    // run skips the read-back there.)
    std::vector<BYTE> buffer(4096);
    DWORD needed = 0;
    ASSERT_TRUE(::GetKernelObjectSecurity(work.Handle(),
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                          buffer.data(), 4096, &needed));
    for (const std::string& sid : AllowedSids(buffer.data())) {
      EXPECT_NE(sid, "S-1-5-32-545");
      EXPECT_NE(sid, "S-1-1-0");
      EXPECT_NE(sid, "S-1-5-11");
    }
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(buffer.data(), &owner, &defaulted));
    const std::string ownerText = SidText(owner);
    if (ownerText != "S-1-5-32-544") {
      EXPECT_FALSE(DescriptorKeepsOthersOut(buffer.data()));
    }

    // Held, it cannot be moved aside or removed; another run finds the
    // name taken.
    EXPECT_FALSE(::MoveFileA(path.c_str(), (temp.path() + "elsewhere").c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::RemoveDirectoryA(path.c_str()));
    WorkFolder second;
    EXPECT_EQ(second.Create(root.Handle(), "KVGSetup0", false, &error), CreateOutcome::kNameTaken);
    EXPECT_FALSE(second.IsHeld());
    work.Release();
    EXPECT_TRUE(::RemoveDirectoryA(path.c_str()));
  }
  // A file of the script's name takes it; it is left as it was.
  ASSERT_TRUE(WriteWholeFile(temp.path() + "0.bat", "theirs"));
  ScopedKernelHandle script;
  EXPECT_EQ(CreateInFolder(root.Handle(), "0.bat", false, true, &script, &error),
            CreateOutcome::kNameTaken);
  std::string contents;
  EXPECT_TRUE(ReadWholeFile(temp.path() + "0.bat", &contents));
  EXPECT_EQ(contents, "theirs");
  ASSERT_EQ(CreateInFolder(root.Handle(), "1.bat", false, true, &script, &error),
            CreateOutcome::kCreated);
  script.Reset();

  // A volume that drops access lists, or a network drive: created, but
  // refused, for the run to remove; and the same for the folder itself.
  for (VolumeReader reader : {&FatVolume, &NetworkVolume, &UnreadableVolume}) {
    VolumeReaderOverride override(reader);
    WorkFolder work;
    EXPECT_EQ(work.Create(root.Handle(), "KVGSetup1", true, &error), CreateOutcome::kUnprotected);
    EXPECT_TRUE(work.IsHeld());
    work.Release();
    EXPECT_TRUE(::RemoveDirectoryA((temp.path() + "KVGSetup1").c_str()));
    EXPECT_EQ(CreateInFolder(root.Handle(), "2.bat", false, true, &script, &error),
              CreateOutcome::kUnprotected);
    script.Reset();
    EXPECT_TRUE(::DeleteFileA((temp.path() + "2.bat").c_str()));
    // Unprotected objects are not checked.
    EXPECT_EQ(work.Create(root.Handle(), "KVGSetup1", false, &error), CreateOutcome::kCreated);
    work.Release();
    EXPECT_TRUE(::RemoveDirectoryA((temp.path() + "KVGSetup1").c_str()));
    TempFolder refused;
    EXPECT_FALSE(refused.Open(Widen(temp.path()), true, &error));
    EXPECT_TRUE(refused.Open(Widen(temp.path()), false, &error));
  }
  root.Release();
  EXPECT_TRUE(temp.Remove());
}

void* NoExport(const char*) { return nullptr; }

// What SetProcessMitigationPolicy was asked, as the system would be asked.
int g_policy = -1;
DWORD g_policyFlags = 0;
SIZE_T g_policySize = 0;
BOOL WINAPI FakeSetProcessMitigationPolicy(int policy, void* buffer, SIZE_T size) {
  g_policy = policy;
  g_policySize = size;
  g_policyFlags = size == sizeof(DWORD) ? *static_cast<DWORD*>(buffer) : 0;
  return TRUE;
}
void* MitigationExport(const char* name) {
  return std::string(name) == "SetProcessMitigationPolicy"
             ? reinterpret_cast<void*>(&FakeSetProcessMitigationPolicy)
             : nullptr;
}

// The DLL search: where SetDefaultDllDirectories is missing, the DLL
// folder of the process becomes the empty text, which takes the current
// folder out of the search (a folder set before stands for "not done").
// The image load policy asks for system-folder DLLs before any other
// (ProcessImageLoadPolicy, 10; PreferSystem32Images, bit 2), and a system
// without the call is left alone. (Wine accepts the policy and changes
// nothing, so the call is observed through the lookup.)
TEST(Security, TheDllSearchIsNarrowedWhereverTheSystemAllows) {
  wchar_t folder[MAX_PATH] = L"";
  ASSERT_TRUE(::SetDllDirectoryW(L"C:\\marker"));
  RestrictDllSearchToSystemFolder(&NoExport);
  EXPECT_EQ(::GetDllDirectoryW(MAX_PATH, folder), 0u);
  EXPECT_STREQ(folder, L"");
  ::SetDllDirectoryW(nullptr);

  PreferSystemFolderImages(&MitigationExport);
  EXPECT_EQ(g_policy, 10);
  EXPECT_EQ(g_policySize, sizeof(DWORD));
  EXPECT_EQ(g_policyFlags, 0x4u);
  PreferSystemFolderImages(&NoExport);
  PreferSystemFolderImages();  // the system's, as WinMain calls it
}

// The machine's values as the registry might hold them.
const wchar_t* g_tmpData = nullptr;
DWORD g_tmpType = REG_SZ;
RegistryString FakeMachine(const wchar_t* name) {
  RegistryString value;
  if (g_tmpData && std::wstring(name) == L"TMP") {
    value.present = true;
    value.type = g_tmpType;
    value.data = g_tmpData;
  }
  return value;
}

TEST(Security, TheMachinesTemporaryFolderIsExpandedFromTheSystemsOwnValuesOnly) {
  const struct {
    DWORD type;
    const wchar_t* data;
    const wchar_t* folder;  // empty: unusable
  } cases[] = {
      {REG_EXPAND_SZ, L"%SystemRoot%\\TEMP", L"C:\\Win\\TEMP\\"},
      {REG_EXPAND_SZ, L"%windir%\\Temp\\", L"C:\\Win\\Temp\\"},
      {REG_EXPAND_SZ, L"%SYSTEMROOT%\\temp", L"C:\\Win\\temp\\"},
      {REG_EXPAND_SZ, L"D:\\Temp", L"D:\\Temp\\"},
      {REG_EXPAND_SZ, L"%USERPROFILE%\\Temp", L""},  // the user's, or anybody's
      {REG_EXPAND_SZ, L"%TMP%", L""},
      {REG_EXPAND_SZ, L"C:\\100%\\Temp", L""},  // a lone %
      {REG_EXPAND_SZ, L"%%\\Temp", L""},
      {REG_SZ, L"C:\\100%\\%SystemRoot%", L"C:\\100%\\%SystemRoot%\\"},  // as it stands
      {REG_SZ, L"Temp", L""},                      // relative
      {REG_SZ, L"\\\\server\\share\\Temp", L""},  // no drive
      {REG_SZ, L"", L""},
      {REG_DWORD, L"C:\\Temp", L""},
  };
  for (const auto& c : cases) {
    RegistryString value;
    value.present = true;
    value.type = c.type;
    value.data = c.data;
    EXPECT_EQ(MachineTempFolderFromValue(value, L"C:\\Win"), c.folder) << Narrow(c.data);
  }
  EXPECT_EQ(MachineTempFolderFromValue(RegistryString(), L"C:\\Win"), L"");
}

// Descriptors by folder, as a Windows would report them: the machine
// folder (or the folder above it) may be changed by users; every other
// folder is the stock Windows TEMP's. (Wine keeps none of its own.)
std::wstring g_changeable;
bool ChangeableFolder(HANDLE handle, std::vector<BYTE>* descriptor) {
  std::wstring path = FinalPath(handle);
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  const std::string sddl = SameText(path, g_changeable) ? kMadeUnderDrive : kStockWindowsTemp;
  Descriptor made(sddl.c_str());
  const DWORD size = ::GetSecurityDescriptorLength(made.descriptor);
  const BYTE* bytes = static_cast<const BYTE*>(made.descriptor);
  descriptor->assign(bytes, bytes + size);
  return true;
}

class SecurityReaderOverride {
 public:
  explicit SecurityReaderOverride(SecurityReader reader) { SetSecurityReaderForTesting(reader); }
  ~SecurityReaderOverride() { SetSecurityReaderForTesting(nullptr); }
};

// Elevated: the machine's folder where it can be trusted, else the Windows
// folder's TEMP. Not elevated: the user's own, as the system reports it.
TEST(Security, WhichTemporaryFolderARunTakes) {
  ScopedFolder machine;
  ScopedFolder user;
  const std::wstring windowsTemp = SystemWindowsFolder() + L"\\TEMP\\";
  const std::wstring machinePath = Widen(machine.path());
  const std::wstring missing = machinePath + L"missing\\";
  const std::string linked = GetEnv("KV_LINKED_TEMP");
  const std::wstring linkedPath = Widen(linked);
  std::wstring oldTmp(32768, L'\0');
  oldTmp.resize(::GetEnvironmentVariableW(L"TMP", &oldTmp[0], 32768));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", Widen(user.path()).c_str()));

  // Wine follows a link even where the folder itself is asked for, so a
  // linked machine folder ends up as its target's final path there, and as
  // the Windows folder's TEMP on Windows: never a path through the link.
  const std::wstring linkTarget =
      linked.empty() ? windowsTemp : Widen(linked.substr(0, linked.size() - 1 - 4) + "target\\");
  const std::wstring machineParent =
      machinePath.substr(0, machinePath.rfind(L'\\', machinePath.size() - 2) + 1);
  const struct {
    bool elevated;
    const wchar_t* machineTmp;  // null: no value
    VolumeReader volumes;       // null: the system's
    std::wstring changeable;    // a folder users may change (empty: none; the system's
                                // descriptors then, which Wine does not keep)
    bool opened;
    std::wstring folder;
  } cases[] = {
      {true, machinePath.c_str(), nullptr, L"", true, machinePath},
      {true, nullptr, nullptr, L"", true, windowsTemp},
      {true, missing.c_str(), nullptr, L"", true, windowsTemp},
      {true, L"%USERPROFILE%\\Temp", nullptr, L"", true, windowsTemp},
      {true, linked.empty() ? missing.c_str() : linkedPath.c_str(), nullptr, L"", true, linkTarget},
      {true, machinePath.c_str(), &FatVolume, L"", false, windowsTemp},
      {true, machinePath.c_str(), nullptr, L"none", true, machinePath},
      {true, machinePath.c_str(), nullptr, machinePath, true, windowsTemp},
      {true, machinePath.c_str(), nullptr, machineParent, true, windowsTemp},
      {true, windowsTemp.c_str(), nullptr, windowsTemp, false, windowsTemp},
      {false, machinePath.c_str(), &FatVolume, L"", true, Widen(user.path())},
  };
  for (const auto& c : cases) {
    g_tmpData = c.machineTmp;
    g_tmpType = REG_EXPAND_SZ;
    g_changeable = c.changeable;
    VolumeReaderOverride override(c.volumes);
    SecurityReaderOverride descriptors(c.changeable.empty() ? nullptr : &ChangeableFolder);
    TempFolder folder;
    std::wstring refused;
    DWORD error = 0;
    const bool opened = OpenRunTempFolder(c.elevated, &FakeMachine, &folder, &refused, &error);
    EXPECT_EQ(opened, c.opened) << Narrow(c.machineTmp ? c.machineTmp : L"(none)");
    const std::wstring got = opened ? folder.Path() : refused;
    const bool viaWindowsTemp = c.folder == linkTarget && SameText(got, windowsTemp);
    EXPECT_TRUE(SameText(got, c.folder) || viaWindowsTemp)
        << Narrow(c.machineTmp ? c.machineTmp : L"(none)") << " (" << Narrow(c.changeable)
        << "): " << Narrow(got);
  }
  g_tmpData = nullptr;
  ::SetEnvironmentVariableW(L"TMP", oldTmp.empty() ? nullptr : oldTmp.c_str());
  EXPECT_TRUE(machine.Remove());
  EXPECT_TRUE(user.Remove());
}

}  // namespace
}  // namespace kv::test
