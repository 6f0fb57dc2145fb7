// A setup executable built by kvpack with the publisher's picture, icon and
// version, as Windows itself reads it: the checksum routine, the version
// API that file properties and the elevation prompt use, and the resource
// calls the launcher makes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32.h"
#include <imagehlp.h>

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::vector<unsigned char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(BrandedSetup, HasTheChecksumTheSystemComputes) {
  const std::string exe = Env("KV_BRANDED_SETUP_EXE");
  DWORD inHeader = 0, computed = 0;
  ASSERT_EQ(::MapFileAndCheckSumA(exe.c_str(), &inHeader, &computed), CHECKSUM_SUCCESS) << exe;
  EXPECT_NE(computed, 0u);
  EXPECT_EQ(inHeader, computed);
}

TEST(BrandedSetup, ShowsItsVersionInformationToWindows) {
  const std::string exe = Env("KV_BRANDED_SETUP_EXE");
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(exe.c_str(), &ignored);
  ASSERT_NE(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(::GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00030001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00040001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00030001u);
  const std::pair<const char*, const char*> strings[] = {
      {"FileDescription", "Kalvora Branded Setup"}, {"ProductName", "Kalvora Photo"},
      {"CompanyName", "Kalvora"},                   {"LegalCopyright", "(c) 2026 Kalvora"},
      {"OriginalFilename", "BrandedSetup.exe"},     {"FileVersion", "3.1.4.1"},
      {"ProductVersion", "3.1.4.1"}};
  for (const auto& [key, expected] : strings) {
    char* value = nullptr;
    const std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
    ASSERT_TRUE(::VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << key;
    EXPECT_STREQ(value, expected) << key;
  }
}

TEST(BrandedSetup, CarriesThePictureTheIconAndTheArchivesTheLauncherLooksUp) {
  const std::string exe = Env("KV_BRANDED_SETUP_EXE");
  HMODULE module = ::LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC picture = ::FindResourceA(module, MAKEINTRESOURCEA(134), MAKEINTRESOURCEA(2));
  ASSERT_NE(picture, nullptr);
  const std::vector<unsigned char> bmp = ReadFile(Env("KV_BRAND_BMP"));
  ASSERT_EQ(::SizeofResource(module, picture), bmp.size() - 14);
  const auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, picture)));
  EXPECT_TRUE(std::equal(bmp.begin() + 14, bmp.end(), bytes));
  HICON icon = static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(101), IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(icon, nullptr);
  if (icon) ::DestroyIcon(icon);
  for (const char* name : {"BASE", "KVVERSION", "APPBASE"}) {
    EXPECT_NE(::FindResourceA(module, name, "KVArc"), nullptr) << name;
  }
  ::FreeLibrary(module);
}

}  // namespace
