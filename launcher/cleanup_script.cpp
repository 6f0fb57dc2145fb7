#include "launcher/cleanup_script.h"

#include <io.h>

namespace kv {
namespace {

// Collected lines are written once they reach this many bytes.
constexpr size_t kBlockBytes = 64 * 1024;

}  // namespace

ZkString CleanupScript::BatchText(const char* path) {
  ZkString text(path);
  text.Replace("%", "%%");
  return text;
}

CleanupScript::CleanupScript(const char* scriptPath, const char* workFolder,
                             const char* outsidePath)
    : scriptPath_(scriptPath),
      workFolder_(workFolder),
      outsidePath_(outsidePath),
      file_(new ZKFile(scriptPath, ZK_WRITE | ZK_CREATE_NEW)) {
  const ZkString holdproc = ZkString(workFolder) + "holdproc.exe";
  if (_access(holdproc, 4) == 0) {
    line_ = "cd \\\r\n";
  } else {
    line_.Format("cd \\\r\n\"%sholdproc\" %%1\r\n",
                 static_cast<const char*>(BatchText(workFolder)));
  }
  WriteLine();
}

void CleanupScript::AddUnpackedFile(const char* targetPath) {
  line_.Format("del \"%s\"\r\n", static_cast<const char*>(BatchText(targetPath)));
  WriteLine();
}

void CleanupScript::Finish(const CreatedFolderList& folders) {
  const ZkString work = workFolder_.Left(workFolder_.GetLength() - 1);
  for (const ZkString& folder : folders) {
    if (folder.CompareNoCase(work) == 0) continue;  // the last line removes it
    line_.Format("rmdir \"%s\"\r\n", static_cast<const char*>(BatchText(folder)));
    WriteLine();
  }
  const ZkString script = BatchText(scriptPath_);
  const ZkString outside = BatchText(outsidePath_);
  const ZkString folder = BatchText(work);
  line_.Format(
      "(if exist \"%s\" (del \"%s\" & rmdir \"%s\") else "
      "(move \"%s\" \"%s\" >nul & rmdir \"%s\" & del \"%s\")) & exit /b\r\n",
      static_cast<const char*>(outside), static_cast<const char*>(script),
      static_cast<const char*>(folder), static_cast<const char*>(script),
      static_cast<const char*>(outside), static_cast<const char*>(folder),
      static_cast<const char*>(outside));
  WriteLine();
  Flush();
  file_->Close();
  file_.reset();
}

void CleanupScript::WriteLine() {
  // cmd reads a batch file in the OEM code page; the paths are ANSI.
  line_.CharToOemA();
  pending_.append(static_cast<const char*>(line_), static_cast<size_t>(line_.GetLength()));
  // One write per line would cost a call into the system per entry.
  if (pending_.size() >= kBlockBytes) Flush();
}

void CleanupScript::Flush() {
  if (pending_.empty()) return;
  ZKWrite* writer = file_.get();
  writer->stWrite(pending_.data(), static_cast<unsigned long>(pending_.size()));
  pending_.clear();
}

}  // namespace kv
