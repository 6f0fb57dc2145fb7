// The publisher's own resources for a setup executable: the splash picture
// from a .bmp file, the program icon from a .ico file and the
// version-information resource, each turned into the bytes the resource
// section holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// Turns the bytes of a .bmp file into a packed DIB for bitmap 134 (the file
// header dropped; the colour table, if any, directly followed by the
// pixels, where the splash looks for them). Accepted is what the splash
// shows as it is: a header of at least 40 bytes, 8 bits per pixel with a
// colour table or 24 bits without, uncompressed, or 8 bits RLE8-coded
// bottom-up with every row coded in full and no delta codes (the splash's
// expansion keeps no row position); any size the header check of the
// splash accepts (up to 32767 pixels a side). False with a one-line *error
// that says what the picture is and what the splash needs otherwise.
bool SplashFromBmp(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>* dib,
                   std::string* error);

// One image of an icon group, and the group resource that lists them.
struct IconSet {
  std::vector<std::vector<std::uint8_t>> images;  // RT_ICON data, in file order
  // RT_GROUP_ICON data with image ids firstId, firstId + 1, ...
  std::vector<std::uint8_t> Group(std::uint16_t firstId) const;
  std::vector<std::uint8_t> directory;  // the file's 16-byte entries, as read
};

// The RT_ICON ids that the RT_GROUP_ICON resource group[0, size) lists, in
// its order, as far as its bytes hold its entries.
std::vector<std::uint16_t> IconGroupIds(const std::uint8_t* group, std::size_t size);

// Reads a .ico file: every image (a BITMAPINFOHEADER-based or PNG image)
// must lie inside the file, behind its directory, and apart from every
// other image, so that the images take no more than the file's bytes.
// False with a one-line *error.
bool IconsFromIco(const std::vector<std::uint8_t>& file, IconSet* icons, std::string* error);

// The version information Windows shows in a file's properties.
struct VersionInfo {
  std::uint16_t version[4] = {0, 0, 0, 0};
  std::string product, company, description, copyright, originalName;  // UTF-8
};

// Parses "X", "X.Y", "X.Y.Z" or "X.Y.Z.W", each part 0..65535; missing parts
// are 0. False for anything else.
bool ParseVersion(const std::string& text, std::uint16_t version[4]);

// The VS_VERSIONINFO resource: fixed file and product version, an
// application for Windows NT, and a string table for U.S. English, Unicode
// (040904B0) with FileVersion, ProductVersion and the non-empty texts as
// ProductName, CompanyName, FileDescription, LegalCopyright and
// OriginalFilename.
std::vector<std::uint8_t> VersionResource(const VersionInfo& info);

}  // namespace kv
