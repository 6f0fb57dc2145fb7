// What keeps the elevated launcher from running code that someone else
// placed: the DLLs it imports, the access list of its work folder, and the
// handle that keeps the work folder in place.
#include <gtest/gtest.h>


#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "launcher/work_folder.h"
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

TEST(Security, TheExecutableImportsOnlyKnownSystemDlls) {
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
}

// Access rights that let their holder change what a folder holds.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!::ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result(text);
  ::LocalFree(text);
  return result;
}

// Wine derives a folder's access list from the Unix permissions and does
// not keep the one it is given, so the list is checked as the launcher
// builds it, and the run only for using it.
TEST(Security, TheWorkFolderListLetsOnlySystemAndAdministratorsWrite) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
      kProtectedFolderSddl, SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder would inherit the temp folder's list";

  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  std::vector<std::string> writers;
  std::vector<std::string> readers;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    auto* header = static_cast<ACE_HEADER*>(ace);
    ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
        << "files and folders below must inherit the entry";
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    (allowed->Mask & kWriteRights ? writers : readers).push_back(SidText(&allowed->SidStart));
  }
  PSID owner = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  ASSERT_NE(owner, nullptr) << "the owner could rewrite the list";
  EXPECT_EQ(SidText(owner), "S-1-5-32-544");
  ::LocalFree(descriptor);
  EXPECT_EQ(writers, (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544"}));
  // OWNER RIGHTS (S-1-3-4): whoever owns a file inside gets no implicit
  // right to change its access list.
  EXPECT_EQ(readers, (std::vector<std::string>{"S-1-5-32-545", "S-1-5-11", "S-1-3-4"}));
}

// The work folder is created and opened in one step and, while held,
// cannot be renamed, removed or replaced, nor the folder above it moved.
TEST(Security, AHeldWorkFolderCannotBeMovedAsideOrRemoved) {
  ScopedFolder temp;
  const std::string path = temp.path() + "KVGSetup0";
  {
    WorkFolder work;
    DWORD error = 0;
    ASSERT_EQ(work.Create(path.c_str(), IsElevated(), &error), WorkFolder::Outcome::kCreated)
        << error;
    ASSERT_TRUE(work.IsHeld());
    EXPECT_FALSE(::MoveFileA(path.c_str(), (temp.path() + "elsewhere").c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::RemoveDirectoryA(path.c_str()));
    // Another run, or another process, finds the name taken.
    WorkFolder second;
    EXPECT_EQ(second.Create(path.c_str(), false, &error), WorkFolder::Outcome::kNameTaken);
    EXPECT_FALSE(second.IsHeld());
    work.Release();
    EXPECT_TRUE(::MoveFileA(path.c_str(), (temp.path() + "elsewhere").c_str()));
  }
  // A file of that name takes it as well; it is left as it was.
  ASSERT_TRUE(WriteWholeFile(path, "theirs"));
  WorkFolder work;
  DWORD error = 0;
  EXPECT_EQ(work.Create(path.c_str(), false, &error), WorkFolder::Outcome::kNameTaken);
  std::string contents;
  EXPECT_TRUE(ReadWholeFile(path, &contents));
  EXPECT_EQ(contents, "theirs");
  EXPECT_TRUE(temp.Remove());
}

TEST(Security, ElevatedRunsCreateTheWorkFolderBeforeUnpackingAndRemoveIt) {
  if (!IsElevated()) GTEST_SKIP() << "this process is not elevated";
  ScopedFolder temp;
  ScopedFolder outside;
  ProgramRun run;
  run.program = GetEnv("KV_STAGE_SETUP_EXE");
  run.environment = {{"TMP", temp.path()},
                     {"TEMP", temp.path()},
                     {"KV_STAGERUN_RECORD", outside.path() + "record.txt"},
                     {"KV_STAGERUN_NO_CLEANUP", "1"}};
  ProgramResult result = RunProgram(run);
  ASSERT_TRUE(result.finished);
  ASSERT_EQ(result.exitCode, 0u);
  ASSERT_TRUE(WaitForFile(outside.path() + "record.txt", 10000));
  // The script lies in the protected folder, which its last line removes.
  std::string script;
  ASSERT_TRUE(ReadWholeFile(temp.path() + "KVGSetup0\\0.bat", &script));
  EXPECT_NE(script.find("rmdir \"" + temp.path() + "KVGSetup0\") else"), std::string::npos)
      << script;
  ::Sleep(300);  // the stand-in has ended once it recorded
  EXPECT_TRUE(temp.Remove());
  EXPECT_TRUE(outside.Remove());
}

}  // namespace
}  // namespace kv::test
