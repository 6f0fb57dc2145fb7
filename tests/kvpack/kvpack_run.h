// Files and kvpack runs for the kvpack tests: files written with a fixed
// time stamp, read back whole, and kvpack run as a user runs it (its own
// process, exit code and both outputs kept).
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kv::test {

namespace fs = std::filesystem;

constexpr std::uint32_t kStamp = 1136073600;  // 2006-01-01 00:00:00 UTC

inline std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const fs::path& path) {
  const std::vector<std::uint8_t> b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

inline void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes,
                      std::uint32_t mtime = kStamp) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const timespec times[2] = {{mtime, 0}, {mtime, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

inline std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// `s` quoted for the shell.
inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct RunResult {
  int exitCode;
  std::string out;
  std::string err;
};

// Runs the shell command `head` followed by the program `program` and its
// quoted `args`; its outputs pass through files in `scratch`.
inline RunResult RunCommand(const std::string& head, const std::string& program,
                            const std::vector<std::string>& args, const fs::path& scratch) {
  std::string command = head + " " + Quote(program);
  for (const std::string& a : args) command += " " + Quote(a);
  const fs::path out = scratch / "stdout.txt";
  const fs::path err = scratch / "stderr.txt";
  command += " >" + Quote(out) + " 2>" + Quote(err);
  const int status = std::system(command.c_str());
  RunResult run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
  fs::remove(out);
  fs::remove(err);
  return run;
}

}  // namespace kv::test
