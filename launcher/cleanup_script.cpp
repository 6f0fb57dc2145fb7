#include "launcher/cleanup_script.h"

#include <io.h>

#include "launcher/run_failure.h"

namespace kv {
namespace {

// Collected lines are written once they reach this many bytes.
constexpr size_t kBlockBytes = 64 * 1024;

bool IsAscii(const char* text) {
  for (; *text; ++text)
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  return true;
}

}  // namespace

ScriptCodePages SystemScriptCodePages() { return {::GetACP(), ::GetOEMCP()}; }

bool CleanupScript::ScriptPathText(const char* path, ScriptCodePages pages,
                                   std::wstring (*shortPath)(const std::wstring&),
                                   std::string* text) {
  std::string oem;
  if (IsAscii(path)) {
    oem = path;  // the same bytes in every code page
  } else {
    // Converted as it stands, a character that the OEM code page lacks
    // would be best-fitted ("\x8A" to "S"), and the line would name
    // another file.
    const int length =
        ::MultiByteToWideChar(pages.ansi, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length <= 1) return false;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(pages.ansi, MB_ERR_INVALID_CHARS, path, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    const AnsiPath converted = ToAnsiPath(wide, pages.oem, shortPath);
    if (!converted.ok) return false;
    oem = converted.ansi;
  }
  text->clear();
  for (char c : oem) {
    *text += c;
    if (c == '%') *text += '%';
  }
  return true;
}

CleanupScript::CleanupScript(ScopedKernelHandle file, const char* scriptPath,
                             const char* workFolder, ScriptCodePages pages,
                             std::wstring (*shortPath)(const std::wstring&))
    : scriptPath_(scriptPath),
      pages_(pages),
      shortPath_(shortPath),
      handle_(std::move(file)),
      file_(handle_.Get()) {
  pending_ = "cd \\\r\n";
  const ZkString holdproc = ZkString(workFolder) + "holdproc.exe";
  if (_access(holdproc, 4) != 0) AddLine("", (std::string(workFolder) + "holdproc").c_str(), " %1");
  if (pending_.size() >= kBlockBytes) Flush();
}

void CleanupScript::AddUnpackedFile(const char* targetPath) { AddLine("del ", targetPath, ""); }

void CleanupScript::Finish(const CreatedFolderList& folders) {
  for (const ZkString& folder : folders) AddLine("rmdir ", folder, "");
  AddLine("del ", scriptPath_.c_str(), "");
  Flush();
  handle_.Release();  // closed below, where a failure is reported
  file_.Close();
}

void CleanupScript::AddLine(const char* head, const char* path, const char* tail) {
  std::string text;
  if (!ScriptPathText(path, pages_, shortPath_, &text)) {
    RunFailure failure;
    failure.exitCode = kExitUnusablePath;
    failure.text = kFailScriptName;
    failure.subject = path;
    throw RunError(failure);
  }
  pending_ += head;
  pending_ += '"';
  pending_ += text;
  pending_ += '"';
  pending_ += tail;
  pending_ += "\r\n";
  // One write per line would cost a call into the system per entry.
  if (pending_.size() >= kBlockBytes) Flush();
}

void CleanupScript::Flush() {
  if (pending_.empty()) return;
  ZKWrite* writer = &file_;
  writer->stWrite(pending_.data(), static_cast<unsigned long>(pending_.size()));
  pending_.clear();
}

}  // namespace kv
