#include "tools/kvpack/cli/command_line.h"

#include "tools/kvpack/compress/parallel_deflate.h"

namespace kv {

namespace {

CommandLine Usage(std::string complaint = "", bool quiet = false) {
  CommandLine line;
  line.complaint = std::move(complaint);
  line.quiet = quiet;
  return line;
}

CommandLine ParseSetup(const std::vector<std::string>& args) {
  CommandLine line;
  line.command = CommandLine::Command::kSetup;
  SetupRequest& request = line.setup;
  request.level = kDefaultLevel;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= args.size()) return false;
      *into = args[++i];
      return true;
    };
    std::string text;
    if (a == "-o" || a == "--output") {
      if (!value(&request.output)) return Usage();
    } else if (a == "--stub") {
      if (!value(&request.stub)) return Usage();
    } else if (a == "--splash") {
      if (!value(&request.splash)) return Usage();
    } else if (a == "--icon") {
      if (!value(&request.icon)) return Usage();
    } else if (a == "--version") {
      if (!value(&text)) return Usage();
      if (!ParseVersion(text, request.versionInfo.version)) {
        return Usage("--version " + text + ": expected X.Y.Z.W, each 0 to 65535", true);
      }
      request.version = true;
    } else if (a == "--product" || a == "--company" || a == "--description" ||
               a == "--copyright") {
      if (!value(&text)) return Usage();
      VersionInfo& v = request.versionInfo;
      (a == "--product" ? v.product : a == "--company" ? v.company
                                    : a == "--description" ? v.description : v.copyright) = text;
      request.version = true;
    } else if (a == "--level") {
      if (!value(&text)) return Usage();
      if (text.size() != 1 || text[0] < '1' || text[0] > '9') {
        return Usage("--level " + text + ": expected 1 to 9", true);
      }
      request.level = text[0] - '0';
    } else if (a == "--allow-missing-stage") {
      request.allowMissingStage = true;
    } else if (a == "--unchecked-archives") {
      request.uncheckedArchives = true;
    } else if (a == "--save-archives") {
      if (!value(&request.archivesDir)) return Usage();
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (request.payload.empty()) {
      request.payload = a;
    } else {
      return Usage();
    }
  }
  if (request.payload.empty() || request.output.empty()) return Usage();
  return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (command == "setup") return ParseSetup(args);
  CommandLine line;
  line.paths.assign(args.begin() + 1, args.end());
  if (command == "pack" && args.size() == 3) {
    line.command = CommandLine::Command::kPack;
  } else if (command == "list" && args.size() == 2) {
    line.command = CommandLine::Command::kList;
  } else if (command == "verify" && args.size() == 2) {
    line.command = CommandLine::Command::kVerify;
  } else {
    return Usage();
  }
  return line;
}

std::string UsageText(const char* stubName) {
  return std::string("usage: kvpack setup <payload folder> -o <setup.exe> [options]\n"
                     "         --stub FILE          the launcher stub (default: ") +
         stubName +
         " beside kvpack)\n"
         "         --splash FILE.bmp    the splash picture (8 or 24 bits, or RLE8)\n"
         "         --icon FILE.ico      the program icon, with all its images\n"
         "         --version X.Y.Z.W    file and product version\n"
         "         --product TEXT  --company TEXT  --description TEXT  --copyright TEXT\n"
         "         --level 1..9         compression level (default 9, the smallest)\n"
         "         --allow-missing-stage  build even without StageRun.exe\n"
         "       kvpack pack <folder> <archive>\n"
         "       kvpack list <archive-or-exe>\n"
         "       kvpack verify <archive-or-exe>\n";
}

}  // namespace kv
