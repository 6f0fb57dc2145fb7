// Reads the tables of a PE image (an .exe or .dll) straight from the file:
// the names it exports and the DLLs it imports from.
#pragma once

#include <string>
#include <vector>

namespace kv::test {

// Returns true and fills `names` with every name the image exports; returns
// false with a description in `error` when the file cannot be read or is not a
// well-formed PE image (an image without an export directory exports nothing
// and succeeds with no names).
bool ReadExportNames(const std::string& path, std::vector<std::string>* names, std::string* error);

// Reads the names of the DLLs that the PE file at `path` imports from, in
// its import table and its delay-load table, as stored. Returns false with
// a message when the file is no PE file or a table runs outside it.
bool ReadImportedDllNames(const std::string& path, std::vector<std::string>* names,
                          std::string* error);

}  // namespace kv::test
