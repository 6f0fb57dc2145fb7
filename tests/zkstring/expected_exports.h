// The names the launcher executable must export, class by class: every
// public and protected member, the free functions and operators that belong
// to the class, by their mangled (Itanium C++ ABI, as MinGW emits) names.
// Another exported class joins by adding its table to ExportedClasses().
#pragma once

#include <cstddef>
#include <vector>

namespace zk_test {

struct ExpectedExport {
  const char* member;  // the declaration, for messages
  const char* symbol;  // the exported name
};

struct ExportedClass {
  const char* name;
  // Every exported name that contains this text belongs to some listed
  // class; one that is in no table means a member was added but not listed.
  const char* symbolMarker;
  const ExpectedExport* exports;
  std::size_t exportCount;
  // Members of the class's interface; exportCount is larger when the
  // compiler emits two entry points for one member (a constructor or the
  // destructor, for complete and base objects).
  std::size_t memberCount;
};

const std::vector<ExportedClass>& ExportedClasses();

// The ZkString table.
extern const ExpectedExport kZkStringExports[];
extern const std::size_t kZkStringExportCount;
extern const std::size_t kZkStringMemberCount;

}  // namespace zk_test
