// What went wrong in a run, in the user's terms: the kind of failure, the
// file, folder or archive concerned, and the system's own words for it.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "launcher/exit_codes.h"
#include "launcher/failure_messages.h"
#include "platform/win32.h"
#include "zkstring/zk_string.h"

namespace kv {

struct RunFailure {
  ExitCode exitCode = kExitFileSystem;
  FailureTextId text = kFailFileSystem;
  std::string subject;  // the file, folder or archive concerned
  std::string detail;   // the system's error text, or what the reader found
};

// A failure that the main sequence itself detects (no layer below raises it).
class RunError : public std::runtime_error {
 public:
  explicit RunError(RunFailure failure)
      : std::runtime_error(failure.subject), failure_(std::move(failure)) {}
  const RunFailure& failure() const { return failure_; }

 private:
  RunFailure failure_;
};

// Describes `error`, an exception of the run: both forms of
// ZkStreamException (a thrown pointer is deleted here), UnpackError,
// RunError, std::bad_alloc and any other exception. `currentFile` names the
// file being worked on when the exception carries no path of its own;
// `lastError` is the platform's last-error value taken as soon as the
// exception was caught (0 when there is none).
RunFailure DescribeFailure(std::exception_ptr error, const std::string& currentFile,
                           DWORD lastError);

// The system's text for an error code, without the final line break; empty
// for 0 or an unknown code.
std::string SystemErrorText(DWORD code);

// The message shown to the user: the failure's text in the user's language
// with its subject and detail, followed, when anything could not be
// removed, by the line that names it.
ZkString FailureMessage(const RunFailure& failure, const std::vector<std::string>& leftBehind);

// The message after a cancelled run that could not remove everything it
// wrote: the line that names what stayed, alone.
ZkString LeftBehindMessage(const std::vector<std::string>& leftBehind);

// The message for a path that the ANSI code page cannot hold
// (kFailTempFolderName, kFailProgramName): the text in the user's language
// with `path` in full Unicode in place of its %s, for MessageBoxW.
std::wstring WidePathFailureMessage(FailureTextId text, const std::wstring& path);

// `text`, a Windows-1252 text of the message tables, in Unicode.
std::wstring FromWindows1252(const char* text);

}  // namespace kv
