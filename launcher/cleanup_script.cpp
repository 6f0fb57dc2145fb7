#include "launcher/cleanup_script.h"

#include <io.h>

namespace kv {

ZkString CleanupScript::BatchText(const char* path) {
  ZkString text(path);
  text.Replace("%", "%%");
  return text;
}

CleanupScript::CleanupScript(const char* scriptPath, const char* workFolder)
    : scriptPath_(scriptPath), file_(new ZKFile(scriptPath, ZK_WRITE | ZK_CREATE)) {
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
  for (const ZkString& folder : folders) {
    line_.Format("rmdir \"%s\"\r\n", static_cast<const char*>(BatchText(folder)));
    WriteLine();
  }
  line_.Format("del \"%s\"\r\n", static_cast<const char*>(BatchText(scriptPath_)));
  WriteLine();
  file_->Close();
  file_.reset();
}

void CleanupScript::WriteLine() {
  // cmd reads a batch file in the OEM code page; the paths are ANSI.
  line_.CharToOemA();
  ZKWrite* writer = file_.get();
  writer->stWrite(static_cast<const char*>(line_), static_cast<unsigned long>(line_.GetLength()));
}

}  // namespace kv
