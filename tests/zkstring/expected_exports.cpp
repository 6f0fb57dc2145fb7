#include "tests/zkstring/expected_exports.h"

namespace zk_test {

// clang-format off
const ExpectedExport kZkStringExports[] = {
    // Construction and destruction (complete-object entry points).
    {"ZkString()",                                   "_ZN8ZkStringC1Ev"},
    {"ZkString(const ZkString&)",                    "_ZN8ZkStringC1ERKS_"},
    {"ZkString(const char*)",                        "_ZN8ZkStringC1EPKc"},
    {"ZkString(const unsigned char*)",               "_ZN8ZkStringC1EPKh"},
    {"ZkString(char, int)",                          "_ZN8ZkStringC1Eci"},
    {"ZkString(const char*, int)",                   "_ZN8ZkStringC1EPKci"},
    {"ZkString(const CString&)",                     "_ZN8ZkStringC1ERK7CString"},
    {"~ZkString()",                                  "_ZN8ZkStringD1Ev"},
    {"ZkGetEmptyString()",                           "_Z16ZkGetEmptyStringv"},
    // Assignment and clearing.
    {"operator=(const ZkString&)",                   "_ZN8ZkStringaSERKS_"},
    {"operator=(const char*)",                       "_ZN8ZkStringaSEPKc"},
    {"operator=(const unsigned char*)",              "_ZN8ZkStringaSEPKh"},
    {"operator=(char)",                              "_ZN8ZkStringaSEc"},
    {"operator=(const CString&)",                    "_ZN8ZkStringaSERK7CString"},
    {"Empty()",                                      "_ZN8ZkString5EmptyEv"},
    // Concatenation.
    {"operator+(const ZkString&, const ZkString&)",  "_ZplRK8ZkStringS1_"},
    {"operator+(const ZkString&, const char*)",      "_ZplRK8ZkStringPKc"},
    {"operator+(const char*, const ZkString&)",      "_ZplPKcRK8ZkString"},
    {"operator+(const ZkString&, char)",             "_ZplRK8ZkStringc"},
    {"operator+(char, const ZkString&)",             "_ZplcRK8ZkString"},
    {"operator+=(const char*)",                      "_ZN8ZkStringpLEPKc"},
    {"operator+=(char)",                             "_ZN8ZkStringpLEc"},
    {"operator+=(const ZkString&)",                  "_ZN8ZkStringpLERKS_"},
    // Attributes and characters.
    {"GetLength() const",                            "_ZNK8ZkString9GetLengthEv"},
    {"GetAllocLength() const",                       "_ZNK8ZkString14GetAllocLengthEv"},
    {"IsEmpty() const",                              "_ZNK8ZkString7IsEmptyEv"},
    {"operator const char*() const",                 "_ZNK8ZkStringcvPKcEv"},
    {"GetAt(int) const",                             "_ZNK8ZkString5GetAtEi"},
    {"operator[](int) const",                        "_ZNK8ZkStringixEi"},
    {"SetAt(int, char)",                             "_ZN8ZkString5SetAtEic"},
    // Comparison members.
    {"Compare(const char*) const",                   "_ZNK8ZkString7CompareEPKc"},
    {"CompareNoCase(const char*) const",             "_ZNK8ZkString13CompareNoCaseEPKc"},
    {"Collate(const char*) const",                   "_ZNK8ZkString7CollateEPKc"},
    {"CollateNoCase(const char*) const",             "_ZNK8ZkString13CollateNoCaseEPKc"},
    // Comparison operators, three forms each.
    {"operator==(const ZkString&, const ZkString&)", "_ZeqRK8ZkStringS1_"},
    {"operator==(const ZkString&, const char*)",     "_ZeqRK8ZkStringPKc"},
    {"operator==(const char*, const ZkString&)",     "_ZeqPKcRK8ZkString"},
    {"operator!=(const ZkString&, const ZkString&)", "_ZneRK8ZkStringS1_"},
    {"operator!=(const ZkString&, const char*)",     "_ZneRK8ZkStringPKc"},
    {"operator!=(const char*, const ZkString&)",     "_ZnePKcRK8ZkString"},
    {"operator<(const ZkString&, const ZkString&)",  "_ZltRK8ZkStringS1_"},
    {"operator<(const ZkString&, const char*)",      "_ZltRK8ZkStringPKc"},
    {"operator<(const char*, const ZkString&)",      "_ZltPKcRK8ZkString"},
    {"operator>(const ZkString&, const ZkString&)",  "_ZgtRK8ZkStringS1_"},
    {"operator>(const ZkString&, const char*)",      "_ZgtRK8ZkStringPKc"},
    {"operator>(const char*, const ZkString&)",      "_ZgtPKcRK8ZkString"},
    {"operator<=(const ZkString&, const ZkString&)", "_ZleRK8ZkStringS1_"},
    {"operator<=(const ZkString&, const char*)",     "_ZleRK8ZkStringPKc"},
    {"operator<=(const char*, const ZkString&)",     "_ZlePKcRK8ZkString"},
    {"operator>=(const ZkString&, const ZkString&)", "_ZgeRK8ZkStringS1_"},
    {"operator>=(const ZkString&, const char*)",     "_ZgeRK8ZkStringPKc"},
    {"operator>=(const char*, const ZkString&)",     "_ZgePKcRK8ZkString"},
    // Raw buffer access.
    {"GetBuffer(int)",                               "_ZN8ZkString9GetBufferEi"},
    {"ReleaseBuffer(int)",                           "_ZN8ZkString13ReleaseBufferEi"},
    {"GetBufferSetLength(int)",                      "_ZN8ZkString18GetBufferSetLengthEi"},
    {"FreeExtra()",                                  "_ZN8ZkString9FreeExtraEv"},
    {"LockBuffer()",                                 "_ZN8ZkString10LockBufferEv"},
    {"UnlockBuffer()",                               "_ZN8ZkString12UnlockBufferEv"},
    // Protected helpers.
    {"GetData() const",                              "_ZNK8ZkString7GetDataEv"},
    {"Init()",                                       "_ZN8ZkString4InitEv"},
    {"AllocBuffer(int)",                             "_ZN8ZkString11AllocBufferEi"},
    {"Release()",                                    "_ZN8ZkString7ReleaseEv"},
    {"static Release(ZkStringData*)",                "_ZN8ZkString7ReleaseEP12ZkStringData"},
    {"CopyBeforeWrite()",                            "_ZN8ZkString15CopyBeforeWriteEv"},
    {"AllocBeforeWrite(int)",                        "_ZN8ZkString16AllocBeforeWriteEi"},
    {"AllocCopy(ZkString&, int, int, int) const",    "_ZNK8ZkString9AllocCopyERS_iii"},
    {"AssignCopy(int, const char*)",                 "_ZN8ZkString10AssignCopyEiPKc"},
    {"ConcatCopy(int, const char*, int, const char*)", "_ZN8ZkString10ConcatCopyEiPKciS1_"},
    {"ConcatInPlace(int, const char*)",              "_ZN8ZkString13ConcatInPlaceEiPKc"},
    {"static SafeStrlen(const char*)",               "_ZN8ZkString10SafeStrlenEPKc"},
    // Search.
    {"Find(char) const",                             "_ZNK8ZkString4FindEc"},
    {"Find(char, int) const",                        "_ZNK8ZkString4FindEci"},
    {"Find(const char*) const",                      "_ZNK8ZkString4FindEPKc"},
    {"Find(const char*, int) const",                 "_ZNK8ZkString4FindEPKci"},
    {"ReverseFind(char) const",                      "_ZNK8ZkString11ReverseFindEc"},
    {"FindOneOf(const char*) const",                 "_ZNK8ZkString9FindOneOfEPKc"},
    // Extraction.
    {"Mid(int, int) const",                          "_ZNK8ZkString3MidEii"},
    {"Mid(int) const",                               "_ZNK8ZkString3MidEi"},
    {"Left(int) const",                              "_ZNK8ZkString4LeftEi"},
    {"Right(int) const",                             "_ZNK8ZkString5RightEi"},
    {"SpanIncluding(const char*) const",             "_ZNK8ZkString13SpanIncludingEPKc"},
    {"SpanExcluding(const char*) const",             "_ZNK8ZkString13SpanExcludingEPKc"},
    // Trimming.
    {"TrimRight()",                                  "_ZN8ZkString9TrimRightEv"},
    {"TrimRight(char)",                              "_ZN8ZkString9TrimRightEc"},
    {"TrimRight(const char*)",                       "_ZN8ZkString9TrimRightEPKc"},
    {"TrimLeft()",                                   "_ZN8ZkString8TrimLeftEv"},
    {"TrimLeft(char)",                               "_ZN8ZkString8TrimLeftEc"},
    {"TrimLeft(const char*)",                        "_ZN8ZkString8TrimLeftEPKc"},
    // Editing.
    {"Insert(int, char)",                            "_ZN8ZkString6InsertEic"},
    {"Insert(int, const char*)",                     "_ZN8ZkString6InsertEiPKc"},
    {"Delete(int, int)",                             "_ZN8ZkString6DeleteEii"},
    {"Replace(char, char)",                          "_ZN8ZkString7ReplaceEcc"},
    {"Replace(const char*, const char*)",            "_ZN8ZkString7ReplaceEPKcS1_"},
    {"ReplaceNoCase(const char*, const char*)",      "_ZN8ZkString13ReplaceNoCaseEPKcS1_"},
    {"Remove(char)",                                 "_ZN8ZkString6RemoveEc"},
    // Case, order and code page.
    {"MakeUpper()",                                  "_ZN8ZkString9MakeUpperEv"},
    {"MakeLower()",                                  "_ZN8ZkString9MakeLowerEv"},
    {"MakeReverse()",                                "_ZN8ZkString11MakeReverseEv"},
    {"CharToOemA()",                                 "_ZN8ZkString10CharToOemAEv"},
    {"OemToCharA()",                                 "_ZN8ZkString10OemToCharAEv"},
    // Formatting and the wide view.
    {"Format(const char*, ...)",                     "_ZN8ZkString6FormatEPKcz"},
    {"FormatV(const char*, va_list)",                "_ZN8ZkString7FormatVEPKcPc"},
    {"FormatMessageA(const char*, ...)",             "_ZN8ZkString14FormatMessageAEPKcz"},
    {"operator const unsigned short*()",             "_ZN8ZkStringcvPKtEv"},
    // Base-object entry points of the constructors and the destructor, which
    // the compiler emits and exports beside the complete-object ones.
    {"ZkString() [base object]",                     "_ZN8ZkStringC2Ev"},
    {"ZkString(const ZkString&) [base object]",      "_ZN8ZkStringC2ERKS_"},
    {"ZkString(const char*) [base object]",          "_ZN8ZkStringC2EPKc"},
    {"ZkString(const unsigned char*) [base object]", "_ZN8ZkStringC2EPKh"},
    {"ZkString(char, int) [base object]",            "_ZN8ZkStringC2Eci"},
    {"ZkString(const char*, int) [base object]",     "_ZN8ZkStringC2EPKci"},
    {"ZkString(const CString&) [base object]",       "_ZN8ZkStringC2ERK7CString"},
    {"~ZkString() [base object]",                    "_ZN8ZkStringD2Ev"},
};
// clang-format on

const std::size_t kZkStringExportCount = sizeof kZkStringExports / sizeof kZkStringExports[0];
const std::size_t kZkStringMemberCount = 104;

// clang-format off
const ExpectedExport kZKMemReadExports[] = {
    {"ZKMemRead(const void*, unsigned long)",            "_ZN9ZKMemReadC1EPKvm"},
    {"ZKMemRead(const ZKMemRead&)",                      "_ZN9ZKMemReadC1ERKS_"},
    {"operator=(const ZKMemRead&)",                      "_ZN9ZKMemReadaSERKS_"},
    {"~ZKMemRead()",                                     "_ZN9ZKMemReadD1Ev"},
    {"stRead(void*, unsigned long)",                     "_ZN9ZKMemRead6stReadEPvm"},
    {"virtual table",                                    "_ZTV9ZKMemRead"},
    {"type information",                                 "_ZTI9ZKMemRead"},
    {"ZKMemRead(const void*, unsigned long) [base object]", "_ZN9ZKMemReadC2EPKvm"},
    {"ZKMemRead(const ZKMemRead&) [base object]",        "_ZN9ZKMemReadC2ERKS_"},
    {"~ZKMemRead() [base object]",                       "_ZN9ZKMemReadD2Ev"},
};
// clang-format on
const std::size_t kZKMemReadExportCount = sizeof kZKMemReadExports / sizeof kZKMemReadExports[0];
// The four members, stRead and the virtual table.
const std::size_t kZKMemReadMemberCount = 6;

const std::vector<ExportedClass>& ExportedClasses() {
  static const std::vector<ExportedClass> classes = {
      {"ZkString", "ZkString", kZkStringExports, kZkStringExportCount, kZkStringMemberCount},
      {"ZKMemRead", "ZKMemRead", kZKMemReadExports, kZKMemReadExportCount, kZKMemReadMemberCount},
  };
  return classes;
}

}  // namespace zk_test
