// Feeds arbitrary bytes to kvpack's readers of the publisher's pictures:
// the .bmp reader for the splash and the .ico reader for the program icon.
// Neither may read outside the file, and what they keep must fit in it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pe/resource_formats.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "publisher_images_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> file(data, data + size);
  std::vector<std::uint8_t> dib;
  std::string error;
  if (kv::SplashFromBmp(file, &dib, &error)) {
    if (dib.size() > file.size()) Fail("splash DIB larger than the file", std::to_string(dib.size()));
  } else if (error.empty()) {
    Fail("splash refused without text", "");
  }
  kv::IconSet icons;
  error.clear();
  if (kv::IconsFromIco(file, &icons, &error)) {
    std::size_t total = 0;
    for (const auto& image : icons.images) total += image.size();
    if (total > file.size()) Fail("icon images larger than the file", std::to_string(total));
    const std::vector<std::uint8_t> group = icons.Group(1);
    if (group.size() != 6 + 14 * icons.images.size()) Fail("group size", std::to_string(group.size()));
  } else if (error.empty()) {
    Fail("icon refused without text", "");
  }
  return 0;
}
