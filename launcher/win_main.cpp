// The program's entry point. The C runtime's GUI start-up passes the
// command-line tail (the command line without the program name and the
// blanks after it) and ends the process with the returned exit code.
#include "launcher/main_sequence.h"
#include "platform/system_library.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  // Before anything can load a DLL: a DLL the system folder holds comes
  // from there whatever asks for it, and only the system folder is searched.
  kv::PreferSystemFolderImages();
  kv::RestrictDllSearchToSystemFolder();
  return kv::RunMainSequence(instance, commandTail);
}
