#include "pe/resource_formats.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "splash/dib_bytes.h"
#include "pe/wide_text.h"

namespace kv {

namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Append16(std::vector<std::uint8_t>* out, std::uint32_t v) {
  out->push_back(static_cast<std::uint8_t>(v));
  out->push_back(static_cast<std::uint8_t>(v >> 8));
}
void Append32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  Append16(out, v);
  Append16(out, v >> 16);
}
// The .bmp file: a 14-byte file header ("BM", the file size, reserved
// words, the pixels' file offset at +10), then the packed DIB.
constexpr std::size_t kBmpFileHeader = 14;
constexpr std::size_t kBmpPixelsOffset = 10;

// The .ico file and the RT_GROUP_ICON resource that lists an icon's images
// (little-endian): a 6-byte header (reserved 0, type 1 at +2, the image
// count at +4), then an entry per image. In the file an entry is 16 bytes:
// width, height, colours, reserved, planes, bit count, the image's size at
// +8 and its file offset at +12. In the group it is 14 bytes: the file
// entry's first 12, then the RT_ICON id at +12.
constexpr std::size_t kIconHeader = 6;
constexpr std::size_t kIconType = 2;
constexpr std::size_t kIconCount = 4;
constexpr std::size_t kIconFileEntry = 16;
constexpr std::size_t kIconImageSize = 8;
constexpr std::size_t kIconImageOffset = 12;
constexpr std::size_t kIconGroupEntry = 14;
constexpr std::size_t kIconGroupId = 12;

void Put16(std::vector<std::uint8_t>* out, std::size_t at, std::uint32_t v) {
  (*out)[at] = static_cast<std::uint8_t>(v);
  (*out)[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Follows an RLE8 stream as a viewer would, with rows and columns. True when
// it codes |height| rows of exactly `width` pixels each, without deltas,
// and ends with an end-of-bitmap code inside its bytes: then the splash's
// position-free expansion produces exactly these rows.
bool Rle8CodesWholeRows(const std::uint8_t* coded, std::size_t size, std::uint32_t width,
                        std::uint32_t height, std::string* why) {
  std::size_t in = 0;
  std::uint64_t column = 0;
  std::uint32_t row = 0;
  while (in + 2 <= size) {
    const std::uint8_t first = coded[in];
    const std::uint8_t second = coded[in + 1];
    in += 2;
    if (first != 0) {
      column += first;
    } else if (second == 0 || second == 1) {
      if (column != 0 || second == 0) {
        if (column != width) {
          *why = "row " + std::to_string(row) + " codes " + std::to_string(column) + " of its " +
                 std::to_string(width) + " pixels";
          return false;
        }
        ++row;
        column = 0;
      }
      if (second == 1) {
        if (row != height) {
          *why = "it codes " + std::to_string(row) + " of the " + std::to_string(height) + " rows";
          return false;
        }
        return true;
      }
    } else if (second == 2) {
      *why = "it uses delta codes";
      return false;
    } else {
      if (in + second > size) break;
      column += second;
      in += second + (second & 1);
    }
    if (column > width) {
      *why = "row " + std::to_string(row) + " codes more than its " + std::to_string(width) +
             " pixels";
      return false;
    }
    if (row >= height && column != 0) break;
  }
  *why = "its data ends before the end-of-bitmap code";
  return false;
}

}  // namespace

bool SplashFromBmp(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>* dib,
                   std::string* error) {
  if (file.size() < kBmpFileHeader + kDibHeaderBytes || file[0] != 'B' || file[1] != 'M') {
    *error = "not a BMP file (no \"BM\" header)";
    return false;
  }
  const std::uint32_t pixelsAt = U32(&file[kBmpPixelsOffset]);
  std::vector<std::uint8_t> stored(file.begin() + kBmpFileHeader, file.end());
  const DibHeader original = ReadDibHeader(stored.data());
  const std::string shape = std::to_string(original.width) + " x " +
                            std::to_string(original.height) + ", " +
                            std::to_string(original.bitCount) + " bits per pixel";
  const bool rgb = original.compression == kDibRgb;
  const bool rle8 = original.compression == kDibRle8 && original.bitCount == 8;
  if (!((rgb && (original.bitCount == 8 || original.bitCount == 24)) || rle8)) {
    *error = "a picture of " + shape + ", compression " + std::to_string(original.compression) +
             ": the splash shows uncompressed 8- or 24-bit pictures and RLE8 ones";
    return false;
  }
  if (original.size < kDibHeaderBytes || original.size > stored.size()) {
    *error = "its bitmap header is damaged";
    return false;
  }
  if (rle8 && original.height < 0) {
    *error = "an RLE8 picture stored top-down, which Windows does not draw";
    return false;
  }
  if (pixelsAt < kBmpFileHeader + original.size || pixelsAt > file.size()) {
    *error = "its pixel offset " + std::to_string(pixelsAt) + " lies outside the file";
    return false;
  }
  // The DIB as the splash reads it: header, the colour table it expects
  // (biClrUsed entries, 256 when 0 at 8 bits), the pixels right behind it.
  const std::uint32_t tableEntries =
      original.bitCount == 8 ? (original.clrUsed == 0 ? 256 : original.clrUsed) : original.clrUsed;
  const std::uint64_t tableBytes = 4ull * tableEntries;
  if (tableEntries > 256 ||
      std::uint64_t{kBmpFileHeader} + original.size + tableBytes > pixelsAt) {
    *error = "its colour table of " + std::to_string(tableEntries) +
             " entries does not fit before its pixels";
    return false;
  }
  dib->assign(file.begin() + kBmpFileHeader,
              file.begin() + kBmpFileHeader + original.size + tableBytes);
  std::uint64_t pixelBytes = file.size() - pixelsAt;
  if (rgb) {
    const std::uint64_t image = DibImageSize(original);
    if (image > pixelBytes) {
      *error = "a picture of " + shape + " whose rows need " + std::to_string(image) +
               " bytes, but the file holds " + std::to_string(pixelBytes) + " after its header";
      return false;
    }
    pixelBytes = image;
  } else if (original.sizeImage != 0 && original.sizeImage < pixelBytes) {
    pixelBytes = original.sizeImage;
  }
  dib->insert(dib->end(), file.begin() + pixelsAt, file.begin() + pixelsAt + pixelBytes);

  std::uint8_t header[kDibHeaderBytes];
  std::memcpy(header, dib->data(), sizeof header);
  std::size_t capacity = 0;
  if (!CompleteDibHeader(header, dib->size(), &capacity)) {
    *error = "a picture of " + shape + " that the splash cannot load (up to 32767 pixels a side, "
             "colour table and rows inside the file)";
    return false;
  }
  if (rle8) {
    std::string why;
    const std::uint8_t* coded = dib->data() + original.size + tableBytes;
    if (!Rle8CodesWholeRows(coded, static_cast<std::size_t>(pixelBytes),
                            static_cast<std::uint32_t>(original.width),
                            static_cast<std::uint32_t>(original.height), &why)) {
      *error = "an RLE8 picture the splash would draw garbled: " + why +
               " (the splash needs every row coded in full, no deltas)";
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> IconSet::Group(std::uint16_t firstId) const {
  std::vector<std::uint8_t> out;
  Append16(&out, 0);
  Append16(&out, 1);
  Append16(&out, static_cast<std::uint32_t>(images.size()));
  for (std::size_t i = 0; i < images.size(); ++i) {
    // The file's entry without its 4-byte offset, then the image's id.
    const std::uint8_t* e = directory.data() + kIconFileEntry * i;
    out.insert(out.end(), e, e + kIconGroupId);
    Append16(&out, static_cast<std::uint32_t>(firstId + i));
  }
  return out;
}

std::vector<std::uint16_t> IconGroupIds(const std::uint8_t* group, std::size_t size) {
  std::vector<std::uint16_t> ids;
  if (size < kIconHeader) return ids;
  const std::size_t count = U16(group + kIconCount);
  for (std::size_t k = 0; k < count && kIconHeader + kIconGroupEntry * (k + 1) <= size; ++k) {
    ids.push_back(U16(group + kIconHeader + kIconGroupEntry * k + kIconGroupId));
  }
  return ids;
}

bool IconsFromIco(const std::vector<std::uint8_t>& file, IconSet* icons, std::string* error) {
  if (file.size() < kIconHeader || U16(&file[0]) != 0 || U16(&file[kIconType]) != 1) {
    *error = "not an icon file (no icon directory)";
    return false;
  }
  const std::uint16_t count = U16(&file[kIconCount]);
  const std::uint64_t directoryEnd = kIconHeader + std::uint64_t{kIconFileEntry} * count;
  if (count == 0 || directoryEnd > file.size()) {
    *error = "its icon directory lists " + std::to_string(count) + " images, " +
             (count == 0 ? std::string("none") : std::string("more than the file holds"));
    return false;
  }
  icons->images.clear();
  icons->directory.assign(file.begin() + kIconHeader, file.begin() + directoryEnd);
  // The entry of image i, and its size and offset.
  auto entry = [&](std::size_t i) { return &file[kIconHeader + kIconFileEntry * i]; };
  auto imageSize = [&](std::size_t i) { return U32(entry(i) + kIconImageSize); };
  auto imageOffset = [&](std::size_t i) { return U32(entry(i) + kIconImageOffset); };
  // Every image inside the file, behind the directory and apart from the
  // others: so the images together take no more bytes than the file has.
  std::vector<std::pair<std::uint64_t, std::uint16_t>> starts;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint32_t size = imageSize(i);
    const std::uint32_t at = imageOffset(i);
    if (size < 8 || at < directoryEnd || at > file.size() || size > file.size() - at) {
      *error = "image " + std::to_string(i + 1) + " lies outside the file or in its directory";
      return false;
    }
    starts.emplace_back(at, i);
  }
  std::sort(starts.begin(), starts.end());
  for (std::size_t k = 1; k < starts.size(); ++k) {
    const std::uint16_t before = starts[k - 1].second;
    if (starts[k - 1].first + imageSize(before) > starts[k].first) {
      *error = "images " + std::to_string(before + 1) + " and " +
               std::to_string(starts[k].second + 1) + " share bytes";
      return false;
    }
  }
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint32_t size = imageSize(i);
    const std::uint8_t* image = &file[imageOffset(i)];
    const bool png = std::memcmp(image, "\x89PNG", 4) == 0;
    if (!png && (size < kDibHeaderBytes || U32(image) < kDibHeaderBytes)) {
      *error = "image " + std::to_string(i + 1) + " is neither a bitmap nor a PNG image";
      return false;
    }
    icons->images.emplace_back(image, image + size);
  }
  return true;
}

bool ParseVersion(const std::string& text, std::uint16_t version[4]) {
  for (int i = 0; i < 4; ++i) version[i] = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == at || end - at > 5) return false;
    const unsigned long v = std::strtoul(text.substr(at, end - at).c_str(), nullptr, 10);
    if (v > 65535) return false;
    version[part] = static_cast<std::uint16_t>(v);
    if (end == text.size()) return true;
    if (text[end] != '.') return false;
    at = end + 1;
  }
  return false;
}

namespace {

// One node of a version resource: length, value length, type, key, padding
// to 32 bits, value, padding, children. The length is filled in at the end.
class VersionNode {
 public:
  VersionNode(std::vector<std::uint8_t>* out, const std::string& key, std::uint32_t valueLength,
              bool text)
      : out_(out), start_(out->size()) {
    Append16(out_, 0);
    Append16(out_, valueLength);
    Append16(out_, text ? 1 : 0);
    for (wchar_t c : Utf8ToWide(key)) Append16(out_, static_cast<std::uint16_t>(c));
    Append16(out_, 0);
    Pad();
  }
  void Pad() {
    while (out_->size() % 4 != 0) out_->push_back(0);
  }
  void Close() { Put16(out_, start_, static_cast<std::uint32_t>(out_->size() - start_)); }

 private:
  std::vector<std::uint8_t>* out_;
  std::size_t start_;
};

void AddString(std::vector<std::uint8_t>* out, const std::string& key, const std::string& value) {
  if (value.empty()) return;
  const std::wstring wide = Utf8ToWide(value);
  VersionNode node(out, key, static_cast<std::uint32_t>(wide.size() + 1), true);
  for (wchar_t c : wide) Append16(out, static_cast<std::uint16_t>(c));
  Append16(out, 0);
  node.Close();
  node.Pad();
}

std::string VersionText(const std::uint16_t v[4]) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

}  // namespace

std::vector<std::uint8_t> VersionResource(const VersionInfo& info) {
  std::vector<std::uint8_t> out;
  VersionNode root(&out, "VS_VERSION_INFO", 52, false);
  const std::uint32_t ms = static_cast<std::uint32_t>(info.version[0]) << 16 | info.version[1];
  const std::uint32_t ls = static_cast<std::uint32_t>(info.version[2]) << 16 | info.version[3];
  Append32(&out, 0xFEEF04BDu);  // signature
  Append32(&out, 0x00010000u);  // structure version 1.0
  Append32(&out, ms);           // file version
  Append32(&out, ls);
  Append32(&out, ms);           // product version
  Append32(&out, ls);
  Append32(&out, 0x3F);         // flags mask
  Append32(&out, 0);            // flags
  Append32(&out, 0x00040004u);  // VOS_NT_WINDOWS32
  Append32(&out, 1);            // VFT_APP
  Append32(&out, 0);            // subtype
  Append32(&out, 0);            // file date: none, so the bytes do not depend on the clock
  Append32(&out, 0);
  root.Pad();
  {
    VersionNode fileInfo(&out, "StringFileInfo", 0, true);
    VersionNode table(&out, "040904B0", 0, true);
    const std::string version = VersionText(info.version);
    AddString(&out, "CompanyName", info.company);
    AddString(&out, "FileDescription", info.description);
    AddString(&out, "FileVersion", version);
    AddString(&out, "LegalCopyright", info.copyright);
    AddString(&out, "OriginalFilename", info.originalName);
    AddString(&out, "ProductName", info.product);
    AddString(&out, "ProductVersion", version);
    table.Close();
    fileInfo.Close();
  }
  {
    VersionNode varInfo(&out, "VarFileInfo", 0, true);
    VersionNode translation(&out, "Translation", 4, false);
    Append16(&out, 0x0409);  // U.S. English
    Append16(&out, 1200);    // Unicode
    translation.Close();
    varInfo.Close();
  }
  root.Close();
  return out;
}

}  // namespace kv
