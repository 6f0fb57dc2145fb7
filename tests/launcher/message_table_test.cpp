// The message table: its shape, the exact Windows-1252 texts the launcher
// shows, and the choice of language, both with injected language values and
// as the platform reports them in a process of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/message_table.h"
#include "tests/support/program_run.h"
#include "platform/win32.h"

namespace kv {
namespace {

// Fake language sources that count how often they are asked.
int userAsked = 0;
int systemAsked = 0;
uint16_t userLanguage = 0;
uint16_t systemLanguage = 0;
uint16_t FakeUser() { ++userAsked; return userLanguage; }
uint16_t FakeSystem() { ++systemAsked; return systemLanguage; }
const LanguageSource kFake = {&FakeUser, &FakeSystem};

const char* Lookup(int id, uint16_t user, uint16_t system = 0x0409) {
  userLanguage = user;
  systemLanguage = system;
  return LookupMsgText(id, kFake);
}

TEST(MessageTable, HoldsRowsZeroToThirtySixInOrderThenTheEndRow) {
  for (int i = 0; i <= 36; ++i) {
    const MsgTextRow& row = MsgTextTable[i];
    EXPECT_EQ(row.id, i);
    for (const char* text : {row.english, row.italian, row.french, row.german}) {
      ASSERT_NE(text, nullptr) << "row " << i;
      EXPECT_GT(std::strlen(text), 0u) << "row " << i;
    }
  }
  EXPECT_EQ(MsgTextTable[37].id, 37);
}

struct LanguageCase {
  uint16_t user;
  uint16_t system;
  const char* column;
};

TEST(MessageTable, PicksTheColumnOfThePrimaryLanguage) {
  const LanguageCase cases[] = {
      {0x0807, 0x0409, "german"},  {0x0407, 0x0409, "german"},   {0x0C0C, 0x0409, "french"},
      {0x040C, 0x0409, "french"},  {0x0810, 0x0409, "italian"},  {0x0410, 0x0409, "italian"},
      {0x0409, 0x0407, "english"}, {0x0C0A, 0x0409, "english"},  {0x0000, 0x0407, "german"},
      {0x0000, 0x0000, "english"}, {0x7C07, 0x0409, "german"},   {0x0411, 0x0407, "english"},
  };
  for (const LanguageCase& c : cases) {
    const MsgTextRow& row = MsgTextTable[kMsgInsufficientSpace];
    const std::string column = c.column;
    const char* expected = column == "german"   ? row.german
                           : column == "french" ? row.french
                           : column == "italian" ? row.italian
                                                : row.english;
    EXPECT_EQ(Lookup(kMsgInsufficientSpace, c.user, c.system), expected)
        << "user 0x" << std::hex << c.user << ", system 0x" << c.system;
  }
}

TEST(MessageTable, UnknownIdentifiersGiveTheUnknownTextWithoutAskingTheLanguage) {
  for (int id : {37, 38, -1, 1000, -2147483647 - 1}) {
    userAsked = systemAsked = 0;
    EXPECT_STREQ(Lookup(id, 0x0407), "unknown msg text") << "id " << id;
    EXPECT_EQ(userAsked + systemAsked, 0) << "id " << id;
  }
}

TEST(MessageTable, AsksTheSystemLanguageOnlyWhenTheUserLanguageIsZero) {
  userAsked = systemAsked = 0;
  Lookup(0, 0x0409);
  EXPECT_EQ(userAsked, 1);
  EXPECT_EQ(systemAsked, 0);
  Lookup(0, 0);
  EXPECT_EQ(userAsked, 2);
  EXPECT_EQ(systemAsked, 1);
}

TEST(MessageTable, ShownTextsAreTheExactWindows1252Bytes) {
  EXPECT_STREQ(Lookup(0, 0x0409), "Kalvora Setup");
  EXPECT_STREQ(Lookup(0, 0x0410), "Installazione Kalvora");
  EXPECT_STREQ(Lookup(0, 0x040C), "Installation de Kalvora");
  EXPECT_STREQ(Lookup(0, 0x0407), "Kalvora Setup");

  EXPECT_STREQ(Lookup(5, 0x0409),
               "Insufficient space on drive %s to run setup!\n"
               "(%.1f MB required, only %.1f MB available)");
  EXPECT_STREQ(Lookup(5, 0x0410),
               "Spazio insufficiente sul disco %s per lanciare l'installazione!\n"
               "(richiesti %.1f MB, disponibili solo %.1f MB)");
  EXPECT_STREQ(Lookup(5, 0x040C),
               "Espace insuffisant pour lancer l'installation sur le disque %s !\n"
               "(%.1f Mo n\xE9" "cessaires, seulement %.1f Mo de disponible)");
  EXPECT_STREQ(Lookup(5, 0x0407),
               "Nicht gen\xFCgend freier Platz auf Laufwerk %s, um Setup laufen zu lassen!\n"
               "(%.1f MB ben\xF6tigt, nur %.1f MB vorhanden)");

  EXPECT_STREQ(Lookup(1, 0x0409),
               "You are about to interrupt the Kalvora download.\n"
               "To continue downloading, you just need to restart the setup program.\n"
               "Files already downloaded won't be downloaded again.\n"
               "Do you really want to interrupt the download?");
  EXPECT_STREQ(Lookup(1, 0x0410),
               "Sta per interrompere il download di Kalvora.\n"
               "Per continuare il download, basta rilanciare il programma d'installazione.\n"
               "I file gi\xE0 scaricati non verranno scaricati nuovamente.\n"
               "Desidera veramente interrompere il download?");
  EXPECT_STREQ(Lookup(1, 0x040C),
               "Vous allez interrompre le t\xE9l\xE9" "chargement de Kalvora.\n"
               "Pour continuer le t\xE9l\xE9" "chargement, vous devez juste relancer le setup.\n"
               "Les fichiers d\xE9j\xE1 t\xE9l\xE9" "charg\xE9s n'auront pas besoin de l'\xEAtre "
               "\xE0 nouveau.\n"
               "Voulez-vous r\xE9" "ellement interrompre le t\xE9l\xE9" "chargement ?");
  EXPECT_STREQ(Lookup(1, 0x0407),
               "Sie sind dabei, den Kalvora-Download zu unterbrechen.\n"
               "Um den Download fortzusetzen, m\xFCssen Sie nur das Setup-Program erneut starten.\n"
               "Die bereits herunter geladenen Datein werden nicht erneut heruntergeladen.\n"
               "Wollen Sie den Download wirklich unterbrechen?");
}

TEST(MessageTable, BlanksAtTheEdgesBelongToTheTexts) {
  EXPECT_EQ(Lookup(3, 0x0409)[0], ' ');
  EXPECT_EQ(Lookup(4, 0x0407)[0], ' ');
  EXPECT_NE(std::strstr(Lookup(6, 0x0409), "available. \n"), nullptr);
  EXPECT_NE(std::strstr(Lookup(8, 0x0409), "settings. \n"), nullptr);
}

// The platform's language: Wine takes it from LC_ALL when the process
// starts, and CTest runs this test once per language, saying in
// KV_EXPECT_LANGUAGE which primary language it chose.
TEST(MessageTable, FollowsTheUsersLanguageOfTheProcess) {
  const std::string wanted = test::GetEnv("KV_EXPECT_LANGUAGE");
  const uint16_t language = ::GetUserDefaultLangID() & 0x3FF;
  if (!wanted.empty()) {
    ASSERT_EQ(language, std::stoul(wanted, nullptr, 16)) << "LC_ALL did not set the language";
  }
  const MsgTextRow& title = MsgTextTable[kMsgTitle];
  const char* expected = language == 0x07   ? title.german
                         : language == 0x0C ? title.french
                         : language == 0x10 ? title.italian
                                            : title.english;
  EXPECT_EQ(GetMsgText(kMsgTitle), expected);
  EXPECT_STREQ(GetMsgText(37), "unknown msg text");
}

}  // namespace
}  // namespace kv
