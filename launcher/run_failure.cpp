#include "launcher/run_failure.h"

#include <memory>
#include <new>

#include "archive/unpack_error.h"
#include "stream/stream_exception.h"

namespace kv {
namespace {

RunFailure Failure(ExitCode code, FailureTextId text, std::string subject, std::string detail) {
  RunFailure failure;
  failure.exitCode = code;
  failure.text = text;
  failure.subject = std::move(subject);
  failure.detail = std::move(detail);
  return failure;
}

// The file stream's errors: code 7 carries the path it could not open.
RunFailure DescribeFileError(const ZkStreamException& error, const std::string& currentFile,
                             DWORD lastError) {
  const std::string system =
      SystemErrorText(error.GetSystemError() ? error.GetSystemError() : lastError);
  switch (error.GetCode()) {
    case ZK_ERR_OPEN:
      return Failure(kExitCannotCreate, kFailCannotCreate,
                     error.GetText() ? error.GetText() : currentFile, system);
    case ZK_ERR_WRITE:
    case ZK_ERR_SHORT_WRITE:
      return Failure(kExitCannotWrite, kFailCannotWrite, currentFile,
                     system.empty() ? SystemErrorText(ERROR_DISK_FULL) : system);
    default:
      return Failure(kExitFileSystem, kFailFileSystem, currentFile,
                     system.empty() ? "error " + std::to_string(error.GetCode()) : system);
  }
}

// The inflate engine's errors: initialisation and its buffer fail for want
// of memory; the others mean the entry could not be unpacked.
RunFailure DescribeInflateError(const ZkStreamException& error, const std::string& currentFile) {
  if (error.GetCode() == ZK_ERR_ZLIB_MEMORY || error.GetCode() == ZK_ERR_ZLIB_INIT)
    return Failure(kExitOutOfMemory, kFailOutOfMemory, std::string(), std::string());
  return Failure(kExitDamagedEntry, kFailDamagedEntry, currentFile,
                 std::string(ZK_ZLIB_ERROR_TEXT) + " " + std::to_string(error.GetCode()));
}

RunFailure DescribeUnpackError(const UnpackError& error) {
  const std::string& detail = error.detail();
  switch (error.kind()) {
    case UnpackError::Kind::kDamagedArchive:
      return Failure(kExitDamagedArchive, kFailDamagedArchive, error.subject(), detail);
    case UnpackError::Kind::kDamagedEntry:
      return Failure(kExitDamagedEntry, kFailDamagedEntry, error.subject(), detail);
    case UnpackError::Kind::kPathTooLong:
    default:
      return Failure(kExitPathTooLong, kFailPathTooLong, error.subject(), detail);
  }
}

}  // namespace

RunFailure DescribeFailure(std::exception_ptr error, const std::string& currentFile,
                           DWORD lastError) {
  try {
    std::rethrow_exception(error);
  } catch (ZkStreamException* thrown) {
    // The pointer form: the handler owns the exception.
    std::unique_ptr<ZkStreamException> owned(thrown);
    return DescribeFileError(*owned, currentFile, lastError);
  } catch (const ZkStreamException& thrown) {
    return DescribeInflateError(thrown, currentFile);
  } catch (const UnpackError& thrown) {
    return DescribeUnpackError(thrown);
  } catch (const RunError& thrown) {
    return thrown.failure();
  } catch (const std::bad_alloc&) {
    return Failure(kExitOutOfMemory, kFailOutOfMemory, std::string(), std::string());
  } catch (const std::exception& thrown) {
    return Failure(kExitFileSystem, kFailFileSystem, currentFile, thrown.what());
  } catch (...) {
    return Failure(kExitFileSystem, kFailFileSystem, currentFile, "unknown error");
  }
}

std::string SystemErrorText(DWORD code) {
  if (code == 0) return std::string();
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length && buffer ? std::string(buffer, length) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text;
}

ZkString FailureMessage(const RunFailure& failure, const std::vector<std::string>& leftBehind) {
  ZkString message;
  message.Format(GetFailureText(failure.text), failure.subject.c_str(), failure.detail.c_str());
  if (!leftBehind.empty()) {
    std::string paths;
    for (const std::string& path : leftBehind) paths += (paths.empty() ? "" : "\n") + path;
    ZkString line;
    line.Format(GetFailureText(kFailLeftBehind), paths.c_str());
    message += line;
  }
  return message;
}

ZkString LeftBehindMessage(const std::vector<std::string>& leftBehind) {
  std::string paths;
  for (const std::string& path : leftBehind) paths += (paths.empty() ? "" : "\n") + path;
  ZkString message;
  message.Format(GetFailureText(kFailLeftBehind), paths.c_str());
  message.TrimLeft();  // the line's leading blank lines set it off after a failure's text
  return message;
}

std::wstring FromWindows1252(const char* text) {
  const int length = ::MultiByteToWideChar(1252, 0, text, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(1252, 0, text, -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length) - 1);
  return wide;
}

std::wstring WidePathFailureMessage(FailureTextId text, const std::wstring& path) {
  std::wstring message = FromWindows1252(GetFailureText(text));
  const std::wstring::size_type at = message.find(L"%s");
  if (at != std::wstring::npos) message.replace(at, 2, path);
  return message;
}

}  // namespace kv
