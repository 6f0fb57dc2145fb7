// Reads the export name table of a PE image (an .exe or .dll) straight from
// the file: DOS header -> PE header -> export directory -> name pointers.
#pragma once

#include <string>
#include <vector>

namespace zk_test {

// Returns true and fills `names` with every name the image exports; returns
// false with a description in `error` when the file cannot be read or is not a
// well-formed PE image (an image without an export directory exports nothing
// and succeeds with no names).
bool ReadExportNames(const std::string& path, std::vector<std::string>* names, std::string* error);

}  // namespace zk_test
