// ZelTime: formatting of fixed times under the regional settings, the profile
// reader, and the formula function itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform.h"
#include "test_env.h"
#include "ufmain.h"
#include "wintime.h"

namespace {

struct Settings {
  int32_t time, tlzero;
  const char* sep;
  const char* am;
  const char* pm;
};

const Settings kDefaults{0, 1, ":", "AM", "PM"};
const Settings kEmpty{0, 0, "", "", ""};

// The settings are process-wide: every test leaves them as it found them.
class WinTime : public ::testing::Test {
 protected:
  void SetUp() override {
    savedTime_ = iTime;
    savedZero_ = iTLzero;
    std::memcpy(savedSep_, sTime, sizeof sTime);
    std::memcpy(savedAmPm_, sAMPM, sizeof sAMPM);
  }
  void TearDown() override {
    iTime = savedTime_;
    iTLzero = savedZero_;
    std::memcpy(sTime, savedSep_, sizeof sTime);
    std::memcpy(sAMPM, savedAmPm_, sizeof sAMPM);
  }
  static void apply(const Settings& s) {
    iTime = s.time;
    iTLzero = s.tlzero;
    std::snprintf(sTime, sizeof sTime, "%s", s.sep);
    std::snprintf(sAMPM[0], sizeof sAMPM[0], "%s", s.am);
    std::snprintf(sAMPM[1], sizeof sAMPM[1], "%s", s.pm);
  }
  static std::string format(int hour, int minute, int second, uint16_t flags, std::size_t size = kTimeTextMax) {
    std::tm t{};
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    const char* r = TimeFormatTime(buf, &t, flags, size);
    EXPECT_EQ(r, buf);
    // Nothing is written past the given size.
    for (std::size_t i = size; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#') << "byte " << i;
    return std::string(buf, strnlen(buf, size));
  }

 private:
  int32_t savedTime_ = 0, savedZero_ = 0;
  char savedSep_[sizeof sTime];
  char savedAmPm_[2][6];
};

TEST_F(WinTime, FormatsFixedTimes) {
  const Settings dot{0, 1, ".", "AM", "PM"};
  const Settings pmDots{0, 1, ":", "AM", "P.M."};
  const Settings percent{0, 1, "%", "AM", "PM"};
  struct Case {
    Settings settings;
    int h, m, s;
    uint16_t flags;
    const char* expected;
  } cases[] = {
      {kDefaults, 14, 5, 9, 6, "02:05 PM"},
      {kDefaults, 0, 30, 0, 6, "12:30 AM"},
      {kDefaults, 12, 0, 0, 6, "12:00 PM"},
      {kDefaults, 9, 7, 0, 6, "09:07 AM"},
      {kDefaults, 11, 59, 0, 6, "11:59 AM"},
      {kDefaults, 23, 59, 0, 6, "11:59 PM"},
      {{0, 0, ":", "AM", "PM"}, 14, 5, 0, 6, "2:05 PM"},
      {{0, 0, ":", "AM", "PM"}, 9, 7, 0, 6, "9:07 AM"},
      {{1, 1, ":", "AM", "PM"}, 14, 5, 0, 6, "14:05"},
      {{1, 0, ":", "AM", "PM"}, 9, 7, 0, 6, "9:07"},
      {{-3, 1, ":", "AM", "PM"}, 0, 7, 0, 6, "00:07"},  // any non-zero iTime is the 24-hour clock
      {dot, 14, 5, 0, 6, "02.05 PM"},
      {pmDots, 14, 5, 0, 6, "02:05 P.M."},
      {pmDots, 12, 59, 0, 6, "12:59 P.M."},
      {kEmpty, 14, 5, 0, 6, "205 "},
      // Flags: 1 forces the 24-hour clock, 4 drops the seconds, other bits do nothing.
      {kDefaults, 14, 5, 9, 1, "14:05:09"},
      {kDefaults, 14, 5, 9, 5, "14:05"},
      {kDefaults, 14, 5, 9, 0, "02:05:09 PM"},
      {kDefaults, 14, 5, 9, 4, "02:05 PM"},
      {kDefaults, 14, 5, 9, 0xFFFA, "02:05:09 PM"},
      {dot, 9, 7, 3, 1, "09.07.03"},
      // A '%' separator is shown as it is.
      {percent, 14, 5, 0, 6, "02%05 PM"},
      {percent, 14, 5, 9, 1, "14%05%09"},
      // Fields outside their ranges wrap instead of picking a designator past the table.
      {kDefaults, 36, 0, 0, 6, "12:00 PM"},
      {kDefaults, -1, 0, 0, 6, "11:00 PM"},
      {kDefaults, 24, 75, 0, 6, "12:15 AM"},
      {kDefaults, 10, -1, 61, 0, "10:59:01 AM"},
  };
  for (const Case& c : cases) {
    apply(c.settings);
    EXPECT_EQ(format(c.h, c.m, c.s, c.flags), c.expected)
        << c.h << ':' << c.m << ':' << c.s << " flags " << c.flags << " sep '" << c.settings.sep << "'";
  }
}

TEST_F(WinTime, EveryMinuteFitsTheHostBuffer) {
  // Independent rendering of the 12- and 24-hour forms.
  const Settings variants[] = {
      {0, 1, ":", "a.m.", "p.m."}, {0, 0, ".", "vorm", "nach"}, {1, 1, ":", "AM", "PM"}, {1, 0, "h", "", ""}};
  for (const Settings& s : variants) {
    apply(s);
    for (int h = 0; h < 24; ++h)
      for (int m = 0; m < 60; ++m) {
        char expected[32];
        const int shown = s.time ? h : (h % 12 == 0 ? 12 : h % 12);
        std::snprintf(expected, sizeof expected, s.tlzero ? "%02d%s%02d" : "%d%s%02d", shown, s.sep, m);
        std::string want = expected;
        if (!s.time) want += std::string(" ") + (h < 12 ? s.am : s.pm);
        const std::string got = format(h, m, 0, 6, kZelTimeTextSize);
        ASSERT_EQ(got, want) << h << ':' << m;
        ASSERT_LE(got.size(), 10u);
      }
  }
}

TEST_F(WinTime, UnterminatedSettingsStillGiveBoundedText) {
  iTime = 0;
  iTLzero = 1;
  std::memset(sTime, '-', sizeof sTime);
  std::memset(sAMPM, 'X', sizeof sAMPM);
  EXPECT_EQ(format(14, 5, 9, 6, kZelTimeTextSize), "02-05 XXXX");
  EXPECT_EQ(format(14, 5, 9, 0), "02-05-09 XXXX");
}

TEST_F(WinTime, ShortBuffersAreCutNotOverrun) {
  apply({0, 1, ":", "AM", "P.M."});
  EXPECT_EQ(format(12, 59, 59, 0, kZelTimeTextSize), "12:59:59 P");
  EXPECT_EQ(format(12, 59, 59, 0, 1), "");
  EXPECT_EQ(format(12, 59, 59, 0, kTimeTextMax), "12:59:59 P.M.");
  char buf[4] = "abc";
  EXPECT_EQ(TimeFormatTime(buf, nullptr, 6, sizeof buf), buf);
  EXPECT_STREQ(buf, "");
  std::tm t{};
  EXPECT_EQ(TimeFormatTime(nullptr, &t, 6, 11), nullptr);
  EXPECT_EQ(TimeFormatTime(buf, &t, 6, 0), buf);
}

TEST_F(WinTime, ProfileSettings) {
  testenv::TempDir dir;
  struct Case {
    const char* name;
    const char* ini;  // null: no file
    int32_t time, tlzero;
    const char* sep;
    const char* am;
    const char* pm;
  } cases[] = {
      {"missing file", nullptr, 0, 1, ":", "AM", "PM"},
      {"empty section", "[intl]\n", 0, 1, ":", "AM", "PM"},
      {"other section", "[windows]\niTime=1\niTLzero=0\nsTime=.\n", 0, 1, ":", "AM", "PM"},
      {"all keys", "[intl]\niTime=1\niTLzero=0\nsTime=.\ns1159=vorm\ns2359=nm\n", 1, 0, ".", "vorm", "nm"},
      {"some keys", "[intl]\ns2359=P.M.\n", 0, 1, ":", "AM", "P.M."},
      {"long values", "[intl]\nsTime=::\ns1159=morning\ns2359=ABCDE\n", 0, 1, ":", "morn", "ABCD"},
      {"case of names", "[INTL]\nITIME=2\nitlzero=0\n", 2, 0, ":", "AM", "PM"},
      {"first of a repeated key", "[intl]\niTime=1\niTime=0\n", 1, 1, ":", "AM", "PM"},
      {"quotes and blanks", "[intl]\n  sTime = \".\" \r\ns1159='am'\n", 0, 1, ".", "am", "PM"},
      {"a section without its bracket ends the section", "[intl]\niTime=1\n[intl\niTLzero=0\n", 1, 1, ":", "AM",
       "PM"},
      // Editors on Windows save UTF-8 with a byte order mark in front of the first line.
      {"byte order mark before the section", "\xEF\xBB\xBF[intl]\r\niTime=1\r\nsTime=.\r\n", 1, 1, ".", "AM", "PM"},
      {"byte order mark before a comment", "\xEF\xBB\xBF; regional settings\n[intl]\niTime=1\n", 1, 1, ":", "AM",
       "PM"},
  };
  for (const Case& c : cases) {
    const std::string path = c.ini ? dir.write(std::string("p") + std::to_string(&c - cases) + ".ini", c.ini)
                                   : dir.file("absent.ini");
    testenv::ScopedEnv env("U2LVOST_PROFILE", path.c_str());
    apply({77, 77, "?", "?", "?"});
    TimeResetInternational();
    EXPECT_EQ(iTime, c.time) << c.name;
    EXPECT_EQ(iTLzero, c.tlzero) << c.name;
    EXPECT_STREQ(sTime, c.sep) << c.name;
    EXPECT_STREQ(sAMPM[0], c.am) << c.name;
    EXPECT_STREQ(sAMPM[1], c.pm) << c.name;
  }
}

// Lines of any length are read whole: a long comment or value never spills a setting.
TEST_F(WinTime, LongProfileLinesAreReadWhole) {
  testenv::TempDir dir;
  const struct {
    const char* name;
    std::string ini;
    int32_t time;
    const char* pm;
  } cases[] = {
      // 1030 characters with the newline: a reader of 1023-character pieces would see "iTime=1" alone.
      {"1030-character comment ending in a setting", "[intl]\n;" + std::string(1022, 'x') + "iTime=1\n", 0, "PM"},
      {"1029-character comment ending in a setting", "[intl]\n;" + std::string(1021, 'x') + "iTime=1\n", 0, "PM"},
      {"100000-character comment", "[intl]\n#" + std::string(100000, ' ') + "iTime=1\n", 0, "PM"},
      {"long value keeps its start", "[intl]\ns2359=NACHM" + std::string(5000, 'z') + "\niTime=2\n", 2, "NACH"},
      {"long key line of another key", "[intl]\nx" + std::string(3000, 'y') + "=iTime=1\n", 0, "PM"},
      {"setting after a long line", "[intl]\n;" + std::string(2000, 'c') + "\niTime=1\n", 1, "PM"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.write("long.ini", c.ini);
    testenv::ScopedEnv env("U2LVOST_PROFILE", path.c_str());
    apply({77, 77, "?", "?", "?"});
    TimeResetInternational();
    EXPECT_EQ(iTime, c.time) << c.name;
    EXPECT_STREQ(sAMPM[1], c.pm) << c.name;
  }
}

// A path that names no regular file (a FIFO without a writer, a device that never
// ends, a folder) gives the defaults at once; a huge file is read only so far.
TEST_F(WinTime, ProfilesThatAreNoFileOrHugeAreBounded) {
  testenv::TempDir dir;
  const std::string fifo = dir.file("fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge =
      dir.write("huge.ini", "[intl]\niTime=1\n;" + std::string(3u << 20, 'x') + "\nsTime=.\n");
  const struct {
    const char* name;
    std::string path;
    int32_t time;
    const char* sep;
  } cases[] = {
      {"a FIFO no one writes", fifo, 0, ":"},
      {"a device without end", "/dev/zero", 0, ":"},
      {"a folder", dir.path(), 0, ":"},
      {"settings past the first mebibyte are not read", huge, 1, ":"},
  };
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  for (const auto& c : cases) {
    // In a child with an alarm: a read that blocks or never ends fails the case instead of the run.
    EXPECT_EXIT(
        {
          alarm(20);
          testenv::ScopedEnv env("U2LVOST_PROFILE", c.path.c_str());
          apply({77, 77, "?", "?", "?"});
          TimeResetInternational();
          std::exit(iTime == c.time && std::strcmp(sTime, c.sep) == 0 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "")
        << c.name;
  }
}

// The profile is read at the job start; a change during the job shows at the next one.
TEST_F(WinTime, ProfileIsReadOncePerJob) {
  testenv::TempDir dir;
  const std::string path = dir.write("win.ini", "[intl]\niTime=1\nsTime=.\n");
  testenv::ScopedEnv env("U2LVOST_PROFILE", path.c_str());
  UFStartJob(1);
  dir.write("win.ini", "[intl]\niTime=0\nsTime=-\n");
  // Reads during the job answer from the copy taken at its start.
  EXPECT_EQ(profileInt("intl", "iTime", 9), 1);
  char sep[4] = "";
  EXPECT_EQ(profileString("INTL", "STIME", "?", sep, sizeof sep), 1u);
  EXPECT_STREQ(sep, ".");
  EXPECT_EQ(profileInt("intl", "iTLzero", 9), 9);
  UFEndJob(1);
  EXPECT_EQ(profileInt("intl", "iTime", 9), 1);
  UFStartJob(2);
  EXPECT_EQ(profileInt("intl", "iTime", 9), 0);
  EXPECT_EQ(iTime, 0);
  EXPECT_STREQ(sTime, "-");
}

TEST_F(WinTime, EveryJobStartReadsTheProfileAgain) {
  testenv::TempDir dir;
  const std::string path = dir.write("win.ini", "[intl]\niTime=1\nsTime=.\n");
  testenv::ScopedEnv env("U2LVOST_PROFILE", path.c_str());
  UFStartJob(1);
  EXPECT_EQ(format(14, 5, 0, 6), "14.05");
  dir.write("win.ini", "[intl]\ns2359=P.M.\n");
  UFStartJob(2);
  EXPECT_EQ(format(14, 5, 0, 6), "02:05 P.M.");
}

TEST_F(WinTime, ZelTimeGivesTheCurrentHoursAndMinutes) {
  apply(kDefaults);
  char buf[32];
  std::memset(buf, '#', sizeof buf);
  UFParamBlock block{};
  block.StructSize = sizeof block;
  block.ReturnValue.ReturnString = buf;

  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(ZelTime(&block), UFNoError);
  const std::time_t after = std::time(nullptr);

  auto render = [](std::time_t t) {
    std::tm lt{};
    localtime_r(&t, &lt);
    char text[32];
    const int shown = lt.tm_hour % 12 == 0 ? 12 : lt.tm_hour % 12;
    std::snprintf(text, sizeof text, "%02d:%02d %s", shown, lt.tm_min, lt.tm_hour < 12 ? "AM" : "PM");
    return std::string(text);
  };
  const std::string got(buf, strnlen(buf, kZelTimeTextSize));
  EXPECT_TRUE(got == render(before) || got == render(after)) << got;
  for (std::size_t i = kZelTimeTextSize; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#') << "byte " << i;
  EXPECT_GE(lTime, before);
  EXPECT_LE(lTime, after);
  ASSERT_NE(lpTM, nullptr);

  EXPECT_EQ(ZelTime(nullptr), UFNoMemory);
  block.ReturnValue.ReturnString = nullptr;
  EXPECT_EQ(ZelTime(&block), UFNoMemory);
}

TEST_F(WinTime, ReturnSize) {
  UFMemCalcBlock block{};
  block.UFMemCalcStringLength = -5;
  EXPECT_EQ(ZelTimeStringRetSize(&block), UFNoError);
  EXPECT_EQ(block.UFMemCalcStringLength, 11);
  EXPECT_EQ(ZelTimeStringRetSize(nullptr), UFMemCalcFail);
}

}  // namespace
