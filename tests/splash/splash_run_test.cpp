// The splash as a user meets it, from outside the process that shows it:
// the close confirmation answered No and Yes (splash_close_probe.exe), and
// whole launcher runs watched on the screen: a setup whose payload takes a
// while to unpack (asked WM_NULL all the while, and closed during it), and
// the same setup built without the splash dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/exit_codes.h"
#include "launcher/message_table.h"
#include "platform/win32.h"
#include "splash/dib.h"
#include "tests/splash/pixels.h"
#include "tests/support/machine_temp.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

namespace kv::test {
namespace {

constexpr DWORD kSplashUnchanged = 20;
constexpr DWORD kCancelRaised = 23;

double NowMs() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string RequiredEnv(const char* name) {
  const std::string value = GetEnv(name);
  EXPECT_FALSE(value.empty()) << name << " is not set";
  return value;
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// --- Closing the splash ------------------------------------------------------------

class SplashClose : public ::testing::Test {
 protected:
  ProgramResult RunProbe(int button, bool launched) {
    ProgramRun run;
    run.program = RequiredEnv("KV_CLOSE_PROBE_EXE");
    run.commandTail = (launched ? "launched \"" : "\"") + Marker() + "\"";
    run.timeoutMs = 30000;
    run.answer = [button](const MessageBoxSeen&) { return button; };
    return RunProgram(run);
  }
  std::string Marker() const { return folder_.path() + "exit-marker.txt"; }
  void TearDown() override { EXPECT_TRUE(folder_.Remove()); }

  void ExpectTheConfirmation(const ProgramResult& result) {
    // Messages 0 and 1 in the user's language, which the probe shares with
    // this process.
    ASSERT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.boxes[0].caption, FromCp1252(GetMsgText(kMsgTitle)));
    EXPECT_EQ(result.boxes[0].text, FromCp1252(GetMsgText(kMsgConfirmInterrupt)));
  }

  ScopedFolder folder_;
};

// No changes nothing (asked before the launch only: after it, the box
// taking the focus ends the splash). Yes before the launch only raises the
// cancel flag (the run stops at its next pause; an exception or an exit
// from inside the dispatch would end it half-written); Yes after the
// launch ends the process with exit code 0.
TEST_F(SplashClose, TheAnswerDecidesWhatBecomesOfTheRun) {
  const struct {
    int button;
    bool launched;
    DWORD exitCode;
    bool exited;  // ended through the normal process exit inside the dispatch
  } cases[] = {
      {IDNO, false, kSplashUnchanged, false},
      {IDYES, false, kCancelRaised, false},
      {IDYES, true, 0, true},
  };
  for (const auto& c : cases) {
    const std::string what = std::string(c.button == IDYES ? "Yes" : "No") +
                             (c.launched ? " after the launch" : " before the launch");
    ::DeleteFileA(Marker().c_str());
    ProgramResult result = RunProbe(c.button, c.launched);
    ASSERT_TRUE(result.started);
    ASSERT_TRUE(result.finished) << what << ": the probe did not end";
    ExpectTheConfirmation(result);
    EXPECT_EQ(result.exitCode, c.exitCode)
        << what << ": 0 ended by the splash, 20 unchanged, 21 the splash or the flags changed, "
        << "22 no splash, 23 only the cancel flag raised";
    if (c.exited) {
      EXPECT_TRUE(Exists(Marker())) << what << ": not ended through the normal process exit";
    }
  }
}

TEST(SplashCloseLanguage, TheTestsRunInTheLanguageTheyExpect) {
  const std::string wanted = GetEnv("KV_EXPECT_LANGUAGE");
  if (wanted.empty()) GTEST_SKIP() << "no language expected";
  EXPECT_EQ(::GetUserDefaultLangID() & 0x3FF, std::stoul(wanted, nullptr, 16));
}

// --- Whole launcher runs ------------------------------------------------------------

struct SplashSearch {
  DWORD processId;
  HWND found = nullptr;
  RECT rect = {};
};

BOOL CALLBACK FindSplash(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<SplashSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  char className[32] = "";
  ::GetClassNameA(window, className, sizeof className);
  RECT rect;
  if (owner == search->processId && ::IsWindowVisible(window) &&
      std::string(className) == "#32770" && ::GetWindowRect(window, &rect) &&
      rect.right - rect.left == 482 && rect.bottom - rect.top == 352) {
    search->found = window;
    search->rect = rect;
    return FALSE;
  }
  return TRUE;
}

// One look at the run: the splash on the screen, and what the launcher had
// written by then.
struct Look {
  double atMs;
  bool tempWritten;  // anything in the temporary folder (script, work folder)
  bool unpacking;    // the payload's bulk folder exists in the work folder
  bool splashShown;  // a visible 482 x 352 dialog of the launcher
  RECT splashRect;
  bool stageStarted;   // the second stage has written its record
  std::string screen;  // while unpacking: how the screen differs from the picture
  double answerMs;     // WM_NULL sent while unpacking: answered after; -1 not sent
  bool timedOut;       // ... not answered within 2 s
};

std::string BoxTexts(const ProgramResult& result) {
  std::string text;
  for (const MessageBoxSeen& box : result.boxes) {
    char line[1024];
    std::snprintf(line, sizeof line, "box \"%ls\": %ls\n", box.caption.c_str(), box.text.c_str());
    text += line;
  }
  return text;
}

std::string Describe(const std::vector<Look>& looks, double startMs) {
  std::string text;
  for (const Look& look : looks) {
    text += "  " + std::to_string(static_cast<int>(look.atMs - startMs)) +
            " ms:" + (look.tempWritten ? " temp" : "") + (look.unpacking ? " unpacking" : "") +
            (look.splashShown ? " SPLASH" : "") + (look.stageStarted ? " stage" : "") +
            (look.answerMs < 0 ? ""
             : look.timedOut
                 ? " WM_NULL unanswered"
                 : " WM_NULL " + std::to_string(static_cast<int>(look.answerMs)) + " ms") +
            " " + look.screen + "\n";
  }
  return text;
}

// Whether `folder` (ending in a backslash) holds anything.
bool HoldsAnything(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool any = false;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") any = true;
  } while (!any && ::FindNextFileA(find, &data));
  ::FindClose(find);
  return any;
}

class LauncherSplashRun : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(temp_.Remove()) << "a file of the run is still held open";
    EXPECT_TRUE(outside_.Remove());
  }

  // Runs `setup` with the test's temporary folder, looking at the screen
  // and the folders about every 20 ms. While the payload is unpacked, the
  // first look covers the splash for a moment; each look sends the splash
  // WM_NULL and waits up to 2 s for the answer; and, with `closeAnswer`
  // (IDYES or IDNO), the first look asks the splash to close as the system
  // does for a user, and the question gets that answer. The second stage
  // (from the payload) records what it received outside the temporary
  // folder and leaves the unpacked files in place.
  ProgramResult Run(const std::string& setup, int closeAnswer = 0) {
    ProgramRun run;
    run.program = setup;
    if (closeAnswer) run.answer = [closeAnswer](const MessageBoxSeen&) { return closeAnswer; };
    run.currentDirectory = outside_.path();
    run.environment = {{"KV_STAGERUN_RECORD", RecordPath()}, {"KV_STAGERUN_NO_CLEANUP", "1"}};
    ScopedMachineTemp machineTemp(temp_.path());
    run.whileRunning = [this, closeAnswer](DWORD processId) {
      Look look = {};
      look.atMs = NowMs();
      // The folders are read before the screen, so that a look that finds
      // the splash shown and the payload being unpacked saw both at once.
      look.stageStarted = Exists(RecordPath());
      look.tempWritten = HoldsAnything(temp_.path());
      look.unpacking = Exists(temp_.path() + "KVGSetup0\\bulk");
      SplashSearch search{processId};
      ::EnumWindows(&FindSplash, reinterpret_cast<LPARAM>(&search));
      look.splashShown = search.found != nullptr;
      look.splashRect = search.rect;
      if (look.splashShown && look.unpacking && picture_)
        look.screen = ScreenVersusPicture(search.rect);
      look.answerMs = -1;
      look.timedOut = false;
      if (look.splashShown && look.unpacking && coverAtMs_ == 0) {
        CoverForAMoment(search.rect);
        coverAtMs_ = NowMs();
      }
      if (look.splashShown && look.unpacking && !look.stageStarted) {
        if (closeAnswer && !closeAsked_) {
          closeAsked_ = ::PostMessageA(search.found, WM_CLOSE, 0, 0) != 0;
        }
        DWORD_PTR answer = 0;
        const double sent = NowMs();
        ::SetLastError(0);
        const bool answered = ::SendMessageTimeoutA(search.found, WM_NULL, 0, 0, SMTO_NORMAL,
                                                    2000, &answer) != 0;
        look.answerMs = NowMs() - sent;
        // A send to a window destroyed meanwhile fails too; that is no
        // time-out.
        const DWORD error = ::GetLastError();
        look.timedOut = !answered && (error == ERROR_TIMEOUT || ::IsWindow(search.found));
        if (answered) longestAnswerMs_ = std::max(longestAnswerMs_, look.answerMs);
      }
      looks_.push_back(look);
    };
    startMs_ = NowMs();
    ProgramResult result = RunProgram(run);
    endMs_ = NowMs();
    return result;
  }

  std::string RecordPath() const { return outside_.path() + "received.txt"; }

  // Covers `rect` with a window of this process for 100 ms, then uncovers
  // it: the splash must paint the picture there again.
  static void CoverForAMoment(const RECT& rect) {
    HWND cover = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, rect.left,
                                   rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                   nullptr, nullptr, nullptr, nullptr);
    ::UpdateWindow(cover);
    const DWORD start = ::GetTickCount();
    MSG message;
    while (::GetTickCount() - start < 100) {
      while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
      ::Sleep(5);
    }
    ::DestroyWindow(cover);
  }

  // Bitmap 134 as `setup` carries it, to compare the screen with.
  void LoadPicture(const std::string& setup) {
    module_ = ::LoadLibraryExA(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr);
    picture_ = LoadResourceDib(MAKEINTRESOURCEA(134), module_);
    ASSERT_NE(picture_, nullptr);
  }

  // How the screen inside the splash's one-pixel border differs from the
  // picture: empty when it shows the picture exactly.
  std::string ScreenVersusPicture(const RECT& splash) {
    Canvas screen(picture_->biWidth, picture_->biHeight, 0);
    if (!screen.CaptureScreen(splash.left + 1, splash.top + 1)) return "screen not read";
    int differing = 0;
    for (int y = 0; y < screen.height(); ++y)
      for (int x = 0; x < screen.width(); ++x)
        if (screen.Pixel(x, y) != DibPixel(picture_, x, y)) ++differing;
    return differing ? std::to_string(differing) + " pixels differ" : std::string();
  }

  // How long after the second stage started the launcher ended, in ms.
  double LaunchToExitMs() {
    std::string record;
    if (!ReadWholeFile(RecordPath(), &record)) return -1e9;
    const size_t at = record.find("StartCounter=");
    if (at == std::string::npos) return -1e9;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const double stageStartMs = static_cast<double>(std::stoll(record.substr(at + 13))) * 1000.0 /
                                static_cast<double>(frequency.QuadPart);
    return endMs_ - stageStartMs;
  }

  // The WM_NULLs sent while unpacking, and whether every one was answered
  // within its 2 s.
  void ExpectEveryWmNullAnswered(const std::string& timeline) {
    int sent = 0;
    for (const Look& look : looks_) {
      if (look.answerMs < 0) continue;
      ++sent;
      EXPECT_FALSE(look.timedOut) << "WM_NULL not answered within 2 s at "
                                  << static_cast<int>(look.atMs - startMs_) << " ms:\n"
                                  << timeline;
    }
    EXPECT_GT(sent, 0) << "no WM_NULL was sent during the unpacking:\n" << timeline;
    std::printf("[ answers  ] %d WM_NULL sent while unpacking, longest answer %.1f ms\n", sent,
                longestAnswerMs_);
  }

  ScopedFolder temp_;
  ScopedFolder outside_;
  bool closeAsked_ = false;
  double coverAtMs_ = 0;  // when the splash was uncovered (0: not yet)
  double longestAnswerMs_ = 0;
  HMODULE module_ = nullptr;
  const BITMAPINFOHEADER* picture_ = nullptr;
  std::vector<Look> looks_;
  double startMs_ = 0;
  double endMs_ = 0;
};

TEST_F(LauncherSplashRun, ThePictureShowsBeforeAndDuringTheUnpackingAndIsGoneAfterTheLaunch) {
  ASSERT_NO_FATAL_FAILURE(LoadPicture(RequiredEnv("KV_RUN_SETUP_EXE")));
  ProgramResult result = Run(RequiredEnv("KV_RUN_SETUP_EXE"));
  const std::string timeline = Describe(looks_, startMs_);

  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(result.boxes.empty()) << BoxTexts(result);
  ASSERT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage was not started";

  bool seen = false;
  bool pictureWhileUnpacking = false;
  bool stageSeen = false;
  for (const Look& look : looks_) {
    if (look.splashShown) seen = true;
    if (look.tempWritten && !seen)
      ADD_FAILURE() << "written before the splash showed:\n" << timeline;
    if (look.unpacking && look.splashShown) {
      // Initialisation shows the window at three fifths of the free height
      // for a moment; by the time the launcher unpacks it stands centred.
      EXPECT_EQ(look.splashRect.left, 271);
      EXPECT_EQ(look.splashRect.top, 208);
      // Covered and uncovered while the launcher unpacks, the splash
      // paints its picture again. (A look at the very end may find the
      // window being hidden, so one exact look after the cover is asked.)
      if (look.screen.empty() && coverAtMs_ > 0 && look.atMs > coverAtMs_)
        pictureWhileUnpacking = true;
    }
    if (look.stageStarted) stageSeen = true;
    if (stageSeen && look.splashShown)
      ADD_FAILURE() << "the splash outlived the launch:\n" << timeline;
  }
  EXPECT_TRUE(seen) << "the splash never showed:\n" << timeline;
  EXPECT_TRUE(pictureWhileUnpacking)
      << "the picture was not on the screen after the splash was uncovered:\n" << timeline;
  // The splash is serviced while the launcher unpacks: Windows ghosts a
  // window that has not answered for 5 s and offers to end its program.
  ExpectEveryWmNullAnswered(timeline);
}

// Whether the tree below `copy` holds exactly the files and bytes of the
// tree below `original` (both ending in a backslash); empty when it does.
std::string TreeDifference(const std::string& original, const std::string& copy) {
  const std::string names = ListTree(original);
  if (ListTree(copy) != names) return "the names differ";
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find('\n', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = names.substr(start, end - start);
    start = end + 1;
    std::string a, b;
    const bool isFile = ReadWholeFile(original + name, &a);
    if (isFile != ReadWholeFile(copy + name, &b) || a != b) return name + " differs";
  }
  return std::string();
}

// A close request during the unpacking asks the question. No: the run ends
// as if nobody had asked. Yes: exit code 13, no second stage, nothing of
// the run left; the question is the only box.
TEST_F(LauncherSplashRun, ClosingDuringTheUnpackingAsksAndTheAnswerIsHeld) {
  const std::string setup = RequiredEnv("KV_RUN_SETUP_EXE");
  const std::string payload = RequiredEnv("KV_RUN_PAYLOAD") + "\\BASE\\";
  for (int answer : {IDNO, IDYES}) {
    const std::string what = answer == IDYES ? "Yes" : "No";
    looks_.clear();
    closeAsked_ = false;
    longestAnswerMs_ = 0;
    ProgramResult result = Run(setup, answer);
    const std::string timeline = Describe(looks_, startMs_);
    ASSERT_TRUE(result.finished) << what;
    ASSERT_TRUE(closeAsked_) << what << ": the unpacking was not seen:\n" << timeline;
    ASSERT_EQ(result.boxes.size(), 1u) << what << ":\n" << BoxTexts(result);
    EXPECT_EQ(result.boxes[0].text, FromCp1252(GetMsgText(kMsgConfirmInterrupt))) << what;
    EXPECT_EQ(result.boxes[0].pressed, answer) << what;
    ExpectEveryWmNullAnswered(timeline);
    if (answer == IDNO) {
      EXPECT_EQ(result.exitCode, 0u) << what;
      ASSERT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage was not started";
      EXPECT_EQ(TreeDifference(payload, temp_.path() + "KVGSetup0\\"), "") << what;
      // The next run (Yes) starts from an empty temporary folder.
      EXPECT_TRUE(RemoveTree(temp_.path() + "KVGSetup0"));
      EXPECT_TRUE(RemoveTree(temp_.path() + "0.bat"));
      EXPECT_TRUE(RemoveTree(RecordPath()));
    } else {
      EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitCancelled)) << what;
      ::Sleep(300);  // a second stage, were it started, would have recorded by now
      EXPECT_FALSE(Exists(RecordPath())) << what << ": the second stage was started";
      EXPECT_EQ(ListTree(temp_.path()), "") << what << ": the run left files behind";
    }
  }
}

TEST_F(LauncherSplashRun, WithoutTheDialogTheRunCompletesWithoutSplashAndWithoutWaiting) {
  ProgramResult result = Run(RequiredEnv("KV_NODIALOG_SETUP_EXE"));
  const std::string timeline = Describe(looks_, startMs_);

  // Waiting for a first paint that never comes would never end.
  ASSERT_TRUE(result.finished) << "the run did not end";
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(result.boxes.empty()) << BoxTexts(result);
  ASSERT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage was not started";
  EXPECT_TRUE(Exists(temp_.path() + "KVGSetup0\\bulk\\d39\\f049.txt")) << "not unpacked";
  for (const Look& look : looks_) {
    EXPECT_FALSE(look.splashShown) << "a splash showed:\n" << timeline;
  }
  // The final wait lets a splash end for up to 5000 ms after the launch;
  // without a splash there is nothing to wait for, and the launcher ends
  // right after it started the second stage (which starts in well under
  // the 2500 ms allowed here).
  EXPECT_LT(LaunchToExitMs(), 2500.0) << timeline;
}

}  // namespace
}  // namespace kv::test
