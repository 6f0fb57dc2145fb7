#include "launcher/work_folder.h"


#include "platform/scoped_handle.h"

namespace kv {

// Protected DACL, inherited by everything below: SYSTEM and the built-in
// administrators full access; built-in users and authenticated users read
// and execute.
const char kProtectedFolderSddl[] =
    "D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;BU)(A;OICI;GRGX;;;AU)";

bool IsElevated() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  ScopedKernelHandle owned(token);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
    return false;
  return elevation.TokenIsElevated != 0;
}

bool CreateProtectedFolder(const char* path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kProtectedFolderSddl, SDDL_REVISION_1,
                                                             &descriptor, nullptr)) {
    return false;
  }
  ScopedLocal owned(descriptor);
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  return ::CreateDirectoryA(path, &attributes) != 0;
}

}  // namespace kv
