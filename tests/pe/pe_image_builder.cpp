#include "tests/pe/pe_image_builder.h"

#include <cstdlib>

namespace kv::test {

namespace {

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::size_t kSectionFileOffset = 0x200;

void Put16(std::vector<std::uint8_t>* b, std::size_t at, std::uint32_t v) {
  (*b)[at] = static_cast<std::uint8_t>(v);
  (*b)[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>* b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

bool IsId(const std::string& s) { return !s.empty() && s[0] == '#'; }

struct Node {
  std::string key;
  std::size_t offset = 0;            // of its directory, in the tree
  std::vector<Node> children;        // type -> names -> languages
  std::size_t resource = 0;          // language level: index of the resource
};

Node* Child(Node* parent, const std::string& key) {
  for (Node& c : parent->children) {
    if (c.key == key) return &c;
  }
  Node child;
  child.key = key;
  parent->children.push_back(child);
  return &parent->children.back();
}

}  // namespace

PeImage BuildPeImage(const std::vector<FakeResource>& resources, bool pe32Plus) {
  Node root;
  for (std::size_t i = 0; i < resources.size(); ++i) {
    Node* type = Child(&root, resources[i].type);
    Node* name = Child(type, resources[i].name);
    Node* lang = Child(name, "#" + std::to_string(resources[i].language));
    lang->resource = i;
  }
  // Layout of the tree: directories, data entries, strings, data.
  std::size_t at = 0;
  auto dirSize = [](const Node& n) { return 16 + 8 * n.children.size(); };
  root.offset = at;
  at += dirSize(root);
  for (Node& t : root.children) {
    t.offset = at;
    at += dirSize(t);
    for (Node& n : t.children) {
      n.offset = at;
      at += dirSize(n);
    }
  }
  std::vector<std::size_t> entryAt(resources.size());
  for (std::size_t i = 0; i < resources.size(); ++i, at += 16) entryAt[i] = at;
  std::vector<std::pair<std::string, std::size_t>> strings;
  auto stringAt = [&](const std::string& s) {
    for (auto& p : strings) {
      if (p.first == s) return p.second;
    }
    strings.emplace_back(s, at);
    at += 2 + 2 * s.size();
    return strings.back().second;
  };
  for (Node& t : root.children) {
    if (!IsId(t.key)) stringAt(t.key);
    for (Node& n : t.children) {
      if (!IsId(n.key)) stringAt(n.key);
    }
  }
  std::vector<std::size_t> dataAt(resources.size());
  for (std::size_t i = 0; i < resources.size(); ++i) {
    at = (at + 3) & ~std::size_t{3};
    dataAt[i] = at;
    at += resources[i].data.size();
  }
  const std::size_t treeSize = at;
  const std::size_t rawSize = (treeSize + 0x1FF) & ~std::size_t{0x1FF};

  PeImage image;
  std::vector<std::uint8_t>& b = image.bytes;
  b.assign(kSectionFileOffset + rawSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  const std::size_t pe = 0x40;
  Put32(&b, 0x3C, pe);
  b[pe] = 'P';
  b[pe + 1] = 'E';
  const std::size_t optionalSize = pe32Plus ? 240 : 224;
  Put16(&b, pe + 4, pe32Plus ? 0x8664 : 0x14C);
  Put16(&b, pe + 6, 1);
  Put16(&b, pe + 20, optionalSize);
  Put16(&b, pe + 22, 0x102);
  const std::size_t opt = pe + 24;
  Put16(&b, opt, pe32Plus ? 0x20B : 0x10B);
  const std::size_t countField = pe32Plus ? 108 : 92;
  Put32(&b, opt + countField, 16);
  Put32(&b, opt + countField + 4 + 16, kSectionRva);
  Put32(&b, opt + countField + 4 + 20, static_cast<std::uint32_t>(treeSize));
  image.sectionHeader = opt + optionalSize;
  const std::size_t sh = image.sectionHeader;
  const char name[] = ".rsrc";
  for (std::size_t i = 0; i < 5; ++i) b[sh + i] = static_cast<std::uint8_t>(name[i]);
  Put32(&b, sh + 8, static_cast<std::uint32_t>(treeSize));
  Put32(&b, sh + 12, kSectionRva);
  Put32(&b, sh + 16, static_cast<std::uint32_t>(rawSize));
  Put32(&b, sh + 20, kSectionFileOffset);
  Put32(&b, sh + 36, 0x40000040);

  image.tree = kSectionFileOffset;
  const std::size_t base = kSectionFileOffset;
  auto writeDir = [&](const Node& n, auto&& target) {
    std::size_t named = 0;
    for (const Node& c : n.children) named += IsId(c.key) ? 0 : 1;
    Put16(&b, base + n.offset + 12, static_cast<std::uint32_t>(named));
    Put16(&b, base + n.offset + 14, static_cast<std::uint32_t>(n.children.size() - named));
    for (std::size_t i = 0; i < n.children.size(); ++i) {
      const Node& c = n.children[i];
      const std::size_t e = base + n.offset + 16 + 8 * i;
      Put32(&b, e, IsId(c.key) ? std::atoi(c.key.c_str() + 1)
                               : 0x80000000u | static_cast<std::uint32_t>(stringAt(c.key)));
      Put32(&b, e + 4, target(c));
    }
  };
  writeDir(root, [](const Node& t) { return 0x80000000u | static_cast<std::uint32_t>(t.offset); });
  for (const Node& t : root.children) {
    writeDir(t, [](const Node& n) { return 0x80000000u | static_cast<std::uint32_t>(n.offset); });
    for (const Node& n : t.children) {
      writeDir(n, [&](const Node& l) { return static_cast<std::uint32_t>(entryAt[l.resource]); });
    }
  }
  for (const auto& s : strings) {
    Put16(&b, base + s.second, static_cast<std::uint32_t>(s.first.size()));
    for (std::size_t i = 0; i < s.first.size(); ++i) {
      Put16(&b, base + s.second + 2 + 2 * i, static_cast<std::uint8_t>(s.first[i]));
    }
  }
  for (std::size_t i = 0; i < resources.size(); ++i) {
    Put32(&b, base + entryAt[i], kSectionRva + static_cast<std::uint32_t>(dataAt[i]));
    Put32(&b, base + entryAt[i] + 4, static_cast<std::uint32_t>(resources[i].data.size()));
    for (std::size_t k = 0; k < resources[i].data.size(); ++k) {
      b[base + dataAt[i] + k] = resources[i].data[k];
    }
    image.dataEntries.push_back(base + entryAt[i]);
    image.dataOffsets.push_back(base + dataAt[i]);
  }
  return image;
}

}  // namespace kv::test
