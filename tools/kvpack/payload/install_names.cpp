#include "tools/kvpack/payload/install_names.h"

#include <cstring>
#include <map>
#include <string_view>

#include "archive/name_case.h"
#include "tools/kvpack/payload/ansi_names.h"

namespace kv {

namespace {

// Windows opens these as devices too: the console's two names, and ports
// numbered 0.
bool IsMoreDevice(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  const std::string upper = FoldNameCase(base);
  return upper == "COM0" || upper == "LPT0" || upper == "CONIN$" || upper == "CONOUT$";
}

// A character a short (8.3) name may hold as it is.
bool ShortNameCharacter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80 ||
         std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

// The component as a short name holds it, if it is a valid one: base of 1
// to 8 and extension of 0 to 3 characters of the set above (letters in
// either case), at most one dot.
bool IsShortName(std::string_view component, std::string* base, std::string* ext) {
  const std::string upper = FoldNameCase(component);
  const std::size_t dot = upper.find('.');
  *base = upper.substr(0, dot);
  *ext = dot == std::string::npos ? "" : upper.substr(dot + 1);
  if (base->empty() || base->size() > 8 || ext->size() > 3 ||
      ext->find('.') != std::string::npos)
    return false;
  for (char c : *base + *ext) {
    if (!ShortNameCharacter(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// What Windows starts a generated short name with: the base without blanks
// and dots, other characters a short name cannot hold as '_', in upper case;
// and the first three such characters of the extension.
void ShortNameStem(std::string_view component, std::string* stem, std::string* ext) {
  const std::string upper = FoldNameCase(component);
  const std::size_t dot = upper.rfind('.');
  auto clean = [](std::string_view part) {
    std::string out;
    for (unsigned char c : part) {
      if (c == ' ' || c == '.') continue;
      out += ShortNameCharacter(c) ? static_cast<char>(c) : '_';
    }
    return out;
  };
  *stem = clean(std::string_view(upper).substr(0, dot));
  *ext = dot == std::string::npos ? "" : clean(std::string_view(upper).substr(dot + 1)).substr(0, 3);
}

// The prefix of a name of the generated form "PREFIX~N" (N of digits), or "".
std::string GeneratedPrefix(const std::string& base) {
  const std::size_t tilde = base.rfind('~');
  if (tilde == std::string::npos || tilde == 0 || tilde + 1 == base.size()) return "";
  for (std::size_t i = tilde + 1; i < base.size(); ++i) {
    if (base[i] < '0' || base[i] > '9') return "";
  }
  return base.substr(0, tilde);
}

bool IsHex(std::string_view text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

struct Component {
  std::string name;  // as stored
  std::size_t index; // of the first name that holds it
};

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

}  // namespace

bool CheckInstallNames(const std::vector<InstallName>& names, std::string* error) {
  // Folded path -> (is a folder, index of the name that brought it).
  std::map<std::string, std::pair<bool, std::size_t>> paths;
  // Folded folder path -> its components, folded, each once.
  std::map<std::string, std::map<std::string, Component>> folders;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const InstallName& n = names[i];
    std::size_t start = 0;
    while (true) {
      const std::size_t stop = n.name.find('\\', start);
      const bool last = stop == std::string::npos;
      const std::string component = n.name.substr(start, last ? std::string::npos : stop - start);
      if (IsMoreDevice(component)) {
        return Fail(error, n.where + ": \"" + AnsiForDisplay(component) + "\" names a device for Windows");
      }
      if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
        return Fail(error, n.where + ": name ends in a dot or blank, which Windows drops from names");
      }
      const std::string folded = FoldNameCase(n.name.substr(0, last ? std::string::npos : stop));
      const auto inserted = paths.emplace(folded, std::make_pair(!last, i));
      if (!inserted.second) {
        const auto [wasFolder, other] = inserted.first->second;
        const bool bothFiles = last && !wasFolder;
        if (wasFolder != !last) {
          return Fail(error, n.where + ": a file and a folder of one name for Windows, with " +
                                 names[other].where);
        }
        if (bothFiles && names[other].archive == n.archive) {
          return Fail(error, n.where + ": same name as " + names[other].where +
                                 " for Windows, which ignores case");
        }
      }
      folders[FoldNameCase(n.name.substr(0, start))].emplace(FoldNameCase(component),
                                                             Component{component, i});
      if (last) break;
      start = stop + 1;
    }
  }

  for (const auto& [folder, components] : folders) {
    // Components that get a generated short name, by extension and stem.
    std::map<std::string, std::size_t> generated;  // ext + '/' + stem -> name index
    for (const auto& [folded, c] : components) {
      std::string base, ext;
      if (IsShortName(c.name, &base, &ext)) continue;
      ShortNameStem(c.name, &base, &ext);
      generated.emplace(ext + "/" + base, c.index);
    }
    if (generated.empty()) continue;
    for (const auto& [folded, c] : components) {
      std::string base, ext;
      if (!IsShortName(c.name, &base, &ext)) continue;
      const std::string prefix = GeneratedPrefix(base);
      if (prefix.empty()) continue;
      // Windows takes the stem's first characters, or, once those are
      // used up, its first two and four hexadecimal digits of a hash.
      std::vector<std::string> stems = {prefix};
      if (prefix.size() == 6 && IsHex(std::string_view(prefix).substr(2))) {
        stems.push_back(prefix.substr(0, 2));
      }
      for (const std::string& stem : stems) {
        const std::string key = ext + "/" + stem;
        const auto it = generated.lower_bound(key);
        if (it != generated.end() && it->first.compare(0, key.size(), key) == 0) {
          return Fail(error, names[c.index].where + ": \"" + AnsiForDisplay(c.name) +
                                 "\" has the form of the short name Windows may give to " +
                                 names[it->second].where +
                                 " in the same folder; one would fail to unpack or land in the "
                                 "other, so please rename it");
        }
      }
    }
  }
  return true;
}

}  // namespace kv
