// ZelFYEnd and ZelCalYEnd on host parameter blocks: argument handling, what
// reaches the fiscal-year lookup, and the conversion of its answer.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "DATE.h"
#include "crdates.h"
#include "persistCalendar.h"
#include "syrapi.h"

namespace {

// A parameter block with company, book (formula values times 100) and a date;
// `count` of them present.
class Call {
 public:
  Call(double company, double book, CRDate date, int count = 3) : elements_(3) {
    elements_[0].ParamType = UFNumber;
    elements_[0].Parameter.ParamNumber = company;
    elements_[1].ParamType = UFNumber;
    elements_[1].Parameter.ParamNumber = book;
    elements_[2].ParamType = UFDate;
    elements_[2].Parameter.ParamDate = date;
    for (int i = 0; i < 3; ++i) {
      elements_[i].StructSize = sizeof(UFParamListElement);
      elements_[i].NextParam = i + 1 < count ? &elements_[i + 1] : nullptr;
    }
    block_.StructSize = sizeof block_;
    block_.UFParamList = count > 0 ? &elements_[0] : nullptr;
    block_.ReturnValue.ReturnDate = kUntouched;
  }
  UFParamBlock* block() { return &block_; }
  CRDate result() const { return block_.ReturnValue.ReturnDate; }
  static constexpr CRDate kUntouched = 123456;

 private:
  std::vector<UFParamListElement> elements_;
  UFParamBlock block_{};
};

struct Seen {
  int calls = 0;
  int16_t company = 0;
  uint32_t book = 0;
  DATE date = 0.0;
};
Seen seen;
DATE answer = 0.0;

DATE recordingLookup(int16_t company, uint32_t bookID, DATE date) {
  ++seen.calls;
  seen.company = company;
  seen.book = bookID;
  seen.date = date;
  return answer;
}

// The date the lookup is to be asked for: the year (sign-extended), month and
// day of the host's date, built as the database's dates are built.
DATE lookupDateFor(uint32_t year, uint32_t month, uint32_t day) {
  return DATEFromMDY(static_cast<int16_t>(month), static_cast<int16_t>(day), static_cast<int16_t>(year));
}

class YearEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    seen = Seen{};
    answer = 0.0;
    savedResolver_ = persistCalendarPtr;
    persistCalendarPtr = nullptr;
  }
  void TearDown() override {
    setFiscalYearEndLookup(nullptr);
    persistCalendarPtr = savedResolver_;
  }

 private:
  CPersistCalendar* savedResolver_ = nullptr;
};

TEST_F(YearEnd, FiscalYearEndPassesTheArgumentsAndConvertsTheAnswer) {
  setFiscalYearEndLookup(recordingLookup);
  struct Case {
    double company, book;
    CRDate date;
    DATE answer;
    int16_t wantCompany;
    uint32_t wantBook, wantYear, wantMonth, wantDay;
    CRDate expected;
  } cases[] = {
      // 15 March 2024; 45657 is 31 December 2024.
      {200.0, 100.0, 2460384, 45657.0, 2, 1, 2024, 3, 15, 2460675},
      {250.0, 199.0, 2460384, 45657.0, 2, 1, 2024, 3, 15, 2460675},
      {200.0, 100.0, 2460384, 45657.75, 2, 1, 2024, 3, 15, 2460675},  // time of day dropped
      {200.0, 100.0, 2460384, 0.0, 2, 1, 2024, 3, 15, -1},            // nothing found
      {200.0, 100.0, 2460384, -2.0, 2, 1, 2024, 3, 15, -1},
      {200.0, 100.0, 2460384, std::numeric_limits<double>::quiet_NaN(), 2, 1, 2024, 3, 15, -1},
      {200.0, 100.0, 2460384, 2958465.0, 2, 1, 2024, 3, 15, 5373483},  // 31 December 9999
      // The ends of the company range, and fractions that truncate into it.
      {3276700.0, 300.0, 2451544, 36891.0, 32767, 3, 2000, 1, 1, 2451909},
      {0.0, 100.0, 2451544, 36891.0, 0, 1, 2000, 1, 1, 2451909},
      {-50.0, 0.0, 2451544, 36891.0, 0, 0, 2000, 1, 1, 2451909},
      {3276799.0, 0.0, 2451544, 36891.0, 32767, 0, 2000, 1, 1, 2451909},
      // The last Julian day, and the earliest year as its 32-bit sign extension.
      {100.0, 100.0, 2299159, 0.0, 1, 1, 1582, 10, 4, -1},
      {100.0, 100.0, 0, 0.0, 1, 1, 4294967296u - 4713u, 1, 1, -1},
  };
  for (const Case& c : cases) {
    seen = Seen{};
    answer = c.answer;
    Call call(c.company, c.book, c.date);
    EXPECT_EQ(ZelFYEnd(call.block()), UFNoError);
    EXPECT_EQ(call.result(), c.expected) << c.company << ' ' << c.book << ' ' << c.date << ' ' << c.answer;
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.company, c.wantCompany) << c.company;
    EXPECT_EQ(seen.book, c.wantBook) << c.book;
    EXPECT_EQ(seen.date, lookupDateFor(c.wantYear, c.wantMonth, c.wantDay)) << c.date;
  }
}

TEST_F(YearEnd, CompanyNumbersOutsideTheRangeGiveNoDate) {
  setFiscalYearEndLookup(recordingLookup);
  answer = 36891.0;  // what the lookup would say, were it asked
  const double companies[] = {3276800.0,  4000000.0,  6553500.0, 6553700.0, -100.0,
                              -150.0,     -3276800.0, 429496729700.0, 1e300,
                              std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity()};
  for (double company : companies) {
    seen = Seen{};
    Call call(company, 100.0, 2451544);
    EXPECT_EQ(ZelFYEnd(call.block()), UFNoError) << company;
    EXPECT_EQ(call.result(), -1) << company;
    EXPECT_EQ(seen.calls, 0) << company;
  }
  // The direct path refuses the cut-off numbers as well.
  const uint32_t numbers[] = {32768u, 40000u, 65535u, 65537u, 0xFFFFFFFFu};
  for (uint32_t n : numbers) {
    seen = Seen{};
    EXPECT_EQ(getFYEndFromDateLong(n, 1, 2000, 1, 1), 0.0) << n;
    EXPECT_EQ(seen.calls, 0) << n;
  }
}

// A book number no 32-bit value holds is no book: cut to 32 bits it would
// answer for book 0 or 1. Within the range the lookup still gets its pattern.
TEST_F(YearEnd, BookNumbersBeyondThirtyTwoBitsGiveNoDate) {
  setFiscalYearEndLookup(recordingLookup);
  answer = 36891.0;  // 31 December 2000, what the lookup would say
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double book;  // formula value times 100
    bool asked;
    uint32_t wantBook;
  } cases[] = {
      {429496729600.0, false, 0},   // 2^32 would be book 0
      {429496729700.0, false, 0},   // 2^32 + 1 would be book 1
      {-429496729500.0, false, 0},  // -(2^32) + 1 would be book 1
      {-214748364900.0, false, 0},  // -(2^31) - 1
      {1e300, false, 0},
      {std::numeric_limits<double>::quiet_NaN(), false, 0},
      {inf, false, 0},
      {-inf, false, 0},
      {429496729500.0, true, 0xFFFFFFFFu},   // 2^32 - 1: the lookup finds no slot for it
      {429496729599.0, true, 0xFFFFFFFFu},   // truncated into the range
      {-214748364800.0, true, 0x80000000u},  // -(2^31)
      {-100.0, true, 0xFFFFFFFFu},
      {800.0, true, 8},
  };
  for (const auto& c : cases) {
    seen = Seen{};
    Call call(100.0, c.book, 2451544);
    EXPECT_EQ(ZelFYEnd(call.block()), UFNoError) << c.book;
    EXPECT_EQ(call.result(), c.asked ? 2451909 : -1) << c.book;
    EXPECT_EQ(seen.calls, c.asked ? 1 : 0) << c.book;
    if (c.asked) {
      EXPECT_EQ(seen.book, c.wantBook) << c.book;
    }
  }
}

// A date whose year no 16-bit year holds would be split into a wrapped year:
// 1 March 1640404 (or 67540) would answer for 1 March 2004.
TEST_F(YearEnd, DatesBeyondTheHostsYearsGiveNoDate) {
  setFiscalYearEndLookup(recordingLookup);
  answer = 38352.0;  // 31 December 2004 (host day 2453370), what the lookup would say
  const CRDate last = CRYearMonthDayToDate(32767, 12, 31);
  const CRDate march2004 = CRYearMonthDayToDate(2004, 3, 1);
  // 4096 Gregorian 400-year cycles: 1638400 years, a multiple of 65536 too.
  const int64_t wrapsTo2004 = int64_t{march2004} + 4096 * int64_t{146097};
  const struct {
    int64_t date;
    bool asked;
    int32_t year, month, day;  // the date the lookup is asked for
  } cases[] = {
      {wrapsTo2004, false, 0, 0, 0},
      {int64_t{last} + 1, false, 0, 0, 0},
      {INT32_MAX, false, 0, 0, 0},
      {INT32_MIN, false, 0, 0, 0},
      {last, true, 32767, 12, 31},
      {march2004, true, 2004, 3, 1},
      // The lower bound: the host's own day of 1 January -32768 (its split
      // makes it 2 January -32767); the days before it go on towards the wrap.
      {YMDToJulian(-32768, 1, 1), true, -32767, 1, 2},
      {int64_t{YMDToJulian(-32768, 1, 1)} - 1, false, 0, 0, 0},
      {int64_t{YMDToJulian(-32768, 1, 1)} - 731, false, 0, 0, 0},  // would be split as year 32767
  };
  for (const auto& c : cases) {
    seen = Seen{};
    const CRDate date = static_cast<CRDate>(c.date);
    Call fy(100.0, 0.0, date);
    EXPECT_EQ(ZelFYEnd(fy.block()), UFNoError) << date;
    EXPECT_EQ(seen.calls, c.asked ? 1 : 0) << date;
    if (c.asked) {
      EXPECT_EQ(seen.date, lookupDateFor(static_cast<uint32_t>(c.year), static_cast<uint32_t>(c.month),
                                         static_cast<uint32_t>(c.day)))
          << date;
    }
    EXPECT_EQ(fy.result(), c.asked ? 2453370 : -1) << date;
    Call cal(100.0, 0.0, date);
    EXPECT_EQ(ZelCalYEnd(cal.block()), UFNoError) << date;
    int16_t y = 0;
    uint16_t m = 0, d = 0;
    CRDateToYearMonthDay(date, &y, &m, &d);
    EXPECT_EQ(cal.result(), c.asked ? CRYearMonthDayToDate(y, 12, 31) : -1) << date;
  }
}

TEST_F(YearEnd, MissingArgumentsLeaveTheResultAlone) {
  setFiscalYearEndLookup(recordingLookup);
  for (int count = 0; count < 3; ++count) {
    Call fy(200.0, 100.0, 2460384, count);
    EXPECT_EQ(ZelFYEnd(fy.block()), UFNotEnoughParameters) << count;
    EXPECT_EQ(fy.result(), Call::kUntouched);
    Call cal(200.0, 100.0, 2460384, count);
    EXPECT_EQ(ZelCalYEnd(cal.block()), UFNotEnoughParameters) << count;
    EXPECT_EQ(cal.result(), Call::kUntouched);
  }
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(ZelFYEnd(nullptr), UFNotEnoughParameters);
  EXPECT_EQ(ZelCalYEnd(nullptr), UFNotEnoughParameters);
}

TEST_F(YearEnd, WithoutAResolverThereIsNoFiscalYearEnd) {
  Call call(200.0, 100.0, 2460384);
  EXPECT_EQ(ZelFYEnd(call.block()), UFNoError);
  EXPECT_EQ(call.result(), -1);
  EXPECT_EQ(getFYEndFromDateLong(2, 1, 2024, 3, 15), 0.0);
}

TEST_F(YearEnd, CalendarYearEnd) {
  struct Case {
    CRDate date;
    CRDate expected;  // 31 December of the date's year, counted from the anchors
  } cases[] = {
      {2460384, 2460675},                 // 15 March 2024
      {2460369, 2460675},                 // 29 February 2024
      {2451544, 2451544 + 365},           // 1 January 2000, a leap year
      {2299159, 2299160 + 16 + 30 + 31},  // 4 October 1582, the last Julian day
      {2299160, 2299160 + 16 + 30 + 31},  // 15 October 1582
      {2299159 - 276, 2299160 + 16 + 30 + 31},  // 1 January 1582 ends with the switch year
      {2299159 - 277, 2299159 - 277},           // 31 December 1581 is its own year end
      {2268991, 2268991 + 306},           // 29 February 1500 (Julian leap year)
      {0, 364},                           // 1 January -4713 (not a leap year)
      {1721058, 1721058 + 364},           // 1 January -1
      {1721058 - 730 - 366, 1721058 - 731},  // 1 January -4 (leap) ends the day before 1 January -3
      {5373483, 5373483},                 // 31 December 9999
      {5373483 - 364, 5373483},           // 1 January 9999
      {-1, -1},                           // the day before the first: no such year end
  };
  for (const Case& c : cases) {
    Call call(250.0, 100.0, c.date);
    EXPECT_EQ(ZelCalYEnd(call.block()), UFNoError);
    EXPECT_EQ(call.result(), c.expected) << c.date;
  }
}

TEST_F(YearEnd, CalendarYearEndIsDecemberWhateverTheBook) {
  // December 2024 is month 24300.
  EXPECT_EQ(getCalYEndFromDateLong(2, 1, 2024, 3, 15), 24300u);
  EXPECT_EQ(getCalYEndFromDateLong(9, 7, 2024, 12, 31), 24300u);
  EXPECT_EQ(static_cast<int32_t>(getCalYEndFromDateLong(0, 0, 4294967296u - 4713u, 1, 1)), -4713 * 12 + 12);
}

TEST_F(YearEnd, ShortYearEntryPointsDoNothing) {
  EXPECT_EQ(_SETSHORTYEAR(nullptr), 1u);
  int32_t values[3] = {7, 8, 9};
  EXPECT_EQ(_SETSHORTYEAR(values), 1u);
  EXPECT_EQ(values[0], 7);
  EXPECT_EQ(values[1], 8);
  EXPECT_EQ(values[2], 9);
  _CLEARSHYRINFO();
  Call call(200.0, 100.0, 2460384);
  EXPECT_EQ(ZelCalYEnd(call.block()), UFNoError);
  EXPECT_EQ(call.result(), 2460675);
}

// The host day number built the long way: split into month, day and year, then
// put back together by the host's own date arithmetic.
CRDate hostDateTheLongWay(DATE date) {
  int16_t m = 0, d = 0, y = 0;
  MDYFromDATE(date, &m, &d, &y);
  return CRYearMonthDayToDate(y, static_cast<uint16_t>(m), static_cast<uint16_t>(d));
}

TEST(HostDate, EveryDayAgreesWithTheSplitAndRebuild) {
  // Every serial from before the first day to beyond the host's last year, with
  // and without a time of day.
  const int32_t last = static_cast<int32_t>(DATEFromMDY(12, 31, 32767));
  int mismatches = 0;
  for (int32_t serial = -3; serial <= last + 400 && mismatches < 5; ++serial) {
    for (double fraction : {0.0, 0.5, 0.999}) {
      const DATE date = serial + fraction;
      const CRDate want = hostDateTheLongWay(date);
      const CRDate got = hostDateOf(date);
      if (got != want) {
        ++mismatches;
        ADD_FAILURE() << "serial " << date << ": " << got << " instead of " << want;
      }
    }
  }
  EXPECT_EQ(hostDateOf(last), 2415018 + last);  // the last day the host holds is a date
  EXPECT_EQ(hostDateOf(last + 1.0), -1);        // the year after it wraps below the first year
}

TEST(HostDate, ValuesOutsideTheDaysAgreeWithTheSplitAndRebuild) {
  const double values[] = {0.0,      -0.0,     0.25,    -0.5,    -1.0,   -115858.0, -115859.0, -2e6,
                           1e8,      -1e8,     2.2e9,   -2.2e9,  1e300,  -1e300,
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  for (double v : values) EXPECT_EQ(hostDateOf(v), hostDateTheLongWay(v)) << v;
}

// ZelFYEnd asks for the date its argument's split gives, built as the database's
// dates are built, for every day it passes on: the shortcut where the two
// calendars agree, the long way before 15 October 1582. The year, month and
// day form asks for the same date.
TEST_F(YearEnd, TheLookupDateIsTheSplitDateBuiltAgain) {
  const CRDate first = YMDToJulian(-32768, 1, 1), last = CRYearMonthDayToDate(32767, 12, 31);
  auto longWay = [](CRDate date) {
    int16_t y = 0;
    uint16_t m = 0, d = 0;
    CRDateToYearMonthDay(date, &y, &m, &d);
    return lookupDateFor(static_cast<uint32_t>(static_cast<int32_t>(y)), m, d);
  };
  int mismatches = 0;
  // Every day from the Julian calendar's last years on; a sample of the years before.
  for (int64_t date = first; date <= last && mismatches < 5; date += date < 2200000 ? 97 : 1) {
    const CRDate day = static_cast<CRDate>(date);
    if (lookupDateOf(day) != longWay(day)) {
      ++mismatches;
      ADD_FAILURE() << "host day " << day << ": " << lookupDateOf(day) << " instead of " << longWay(day);
    }
  }
  for (CRDate day : {first, CRDate{2299159}, CRDate{2299160}, last}) EXPECT_EQ(lookupDateOf(day), longWay(day)) << day;

  setFiscalYearEndLookup(recordingLookup);
  answer = 36891.0;
  EXPECT_EQ(getFYEndFromDateLong(2, 1, 2024, 3, 15), 36891.0);
  EXPECT_EQ(seen.date, 45366.0);  // 15 March 2024
  EXPECT_EQ(getFYEndFromDateLong(2, 1, 4294967296u - 4713u, 1, 1), 36891.0);
  EXPECT_EQ(seen.date, lookupDateFor(4294967296u - 4713u, 1, 1));
}

TEST_F(YearEnd, ArgumentsOfTheWrongTypeCountAsMissing) {
  setFiscalYearEndLookup(recordingLookup);
  answer = 36891.0;
  const UFTypeDefs wrong[3] = {UFDate, UFDate, UFNumber};  // each position given another type
  for (int position = 0; position < 3; ++position) {
    Call fy(200.0, 100.0, 2460384);
    fy.block()->UFParamList[position].ParamType = wrong[position];
    EXPECT_EQ(ZelFYEnd(fy.block()), UFNotEnoughParameters) << position;
    EXPECT_EQ(fy.result(), Call::kUntouched) << position;
  }
  EXPECT_EQ(seen.calls, 0);
}

}  // namespace

#if defined(__GLIBC__)
// A host may run with floating-point traps on (invalid operation, overflow,
// division by zero). Company and book numbers that are no numbers at all, and a
// year end that is no date, give no date, as without traps, and raise nothing
// in the host.
TEST_F(YearEnd, HostFloatingPointTrapsNeverFire) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  setFiscalYearEndLookup(recordingLookup);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const struct {
    double company, book;  // formula values times 100
    DATE lookup;           // what the fiscal-year lookup answers
    CRDate fiscal;         // ZelFYEnd's answer
  } cases[] = {
      {nan, 100.0, 36891.0, -1},    {100.0, nan, 36891.0, -1}, {nan, nan, 36891.0, -1},
      {-nan, 100.0, 36891.0, -1},   {inf, nan, 36891.0, -1},   {nan, -inf, 36891.0, -1},
      {1e300, nan, 36891.0, -1},    {100.0, 100.0, 36891.0, 2451909},
      // A year end that is no date at all, from a broken calendar.
      {100.0, 100.0, nan, -1},      {100.0, 100.0, inf, -1},   {100.0, 100.0, -inf, -1},
      {100.0, 100.0, 1e300, -1},
  };
  const int traps = FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO;
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          answer = c.lookup;
          std::feclearexcept(FE_ALL_EXCEPT);
          feenableexcept(traps);
          Call fiscal(c.company, c.book, 2451544);
          Call calendar(c.company, c.book, 2451544);
          const bool answered = ZelFYEnd(fiscal.block()) == UFNoError && ZelCalYEnd(calendar.block()) == UFNoError;
          const bool flagsAsBefore = std::fetestexcept(traps) == 0;
          fedisableexcept(traps);
          // 31 December 2000 for the calendar year of 1 January 2000, whatever the numbers.
          std::exit(answered && fiscal.result() == c.fiscal && calendar.result() == 2451909 && flagsAsBefore ? 0
                                                                                                             : 3);
        },
        ::testing::ExitedWithCode(0), "")
        << c.company << " " << c.book << " " << c.lookup;
  }
}
#endif
