// Entry names compared as the file system of the launcher's machine
// compares them: without regard to case, over the whole Windows-1252 set in
// which the names are stored ("\xC4.txt" and "\xE4.txt", Ä and ä, are one
// file, as are Š and š, Ÿ and ÿ). The launcher and kvpack both use this
// fold, so that what kvpack lets through as two files the launcher writes
// as two files.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// The byte `c` of a Windows-1252 name as the comparison sees it: a lower-case
// letter as its upper-case one (a-z, à-þ but ÷, š œ ž ÿ); every other byte,
// ß and µ among them (their upper-case forms lie outside the set), as it is.
unsigned char FoldNameByte(unsigned char c);

// `name` with every byte folded by FoldNameByte.
std::string FoldNameCase(std::string_view name);

// True when `a` and `b` name the same file for the comparison above.
bool SameFileName(std::string_view a, std::string_view b);

}  // namespace kv
