// The localized message table: every text the launcher shows, in English,
// Italian, French and German (Windows-1252), selected by the user's language.
#pragma once

#include <cstdint>

namespace kv {

// Message identifiers the launcher shows. The table holds 0 to 36; the
// others (download, connection and mail texts) are carried but never shown.
enum MessageId : int {
  kMsgTitle = 0,              // caption of every message box
  kMsgConfirmInterrupt = 1,   // close question of the splash
  kMsgInsufficientSpace = 5,  // format: drive, required MB, available MB
};

// One row: identifier and the four texts, in this order.
struct MsgTextRow {
  int32_t id;
  const char* english;
  const char* italian;
  const char* french;
  const char* german;
};

// Identifier of the row that ends the table; its texts are never read.
constexpr int32_t kMsgTableEndId = 37;

// The table: rows 0 to 36 in order, then the end row.
extern const MsgTextRow MsgTextTable[38];

// The answer for an identifier without a row.
extern const char kUnknownMsgText[];

// Where the language comes from. The platform's form asks
// GetUserDefaultLangID and, when that is 0, GetSystemDefaultLangID.
struct LanguageSource {
  uint16_t (*userLanguage)();
  uint16_t (*systemLanguage)();
};
extern const LanguageSource kPlatformLanguage;

// Returns the text of message `id` in the language that `source` reports,
// or kUnknownMsgText when the table has no row for `id` (37, negative and
// larger identifiers included). Never null; the text is static. The
// language is asked only once a row has matched, and at every such call.
const char* LookupMsgText(int id, const LanguageSource& source);

// LookupMsgText with the user's language from the platform.
const char* GetMsgText(int id);

// The text of `row` in the language that `source` reports: the user's
// language, or the system's when the user's is 0; German, French and
// Italian by their primary language, English for every other.
const char* SelectLanguageText(const MsgTextRow& row, const LanguageSource& source);

}  // namespace kv
