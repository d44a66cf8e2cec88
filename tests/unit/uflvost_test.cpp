// Number formatting and header splitting, driven through hand-made parameter
// blocks the way the host calls them.
#include "uflvost.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "test_env.h"

namespace {

constexpr size_t kCanary = 16;
constexpr char kCanaryByte = '\x5A';
constexpr char kUnwritten = '#';
const std::string kStars(19, '*');
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// One formula call: its arguments and a result buffer of the size the host
// would give, followed by canary bytes that must survive every call.
class HostCall {
 public:
  explicit HostCall(size_t bufferSize) : size_(bufferSize), buffer_(bufferSize + kCanary, kCanaryByte) {
    std::fill(buffer_.begin(), buffer_.begin() + bufferSize, kUnwritten);
    args_.reserve(8);
  }
  // hostValue is what the host passes: 100 times the formula value.
  HostCall& number(double hostValue) {
    UFParamListElement e{};
    e.ParamType = UFNumber;
    e.Parameter.ParamNumber = hostValue;
    return add(e);
  }
  HostCall& text(const char* s) {
    UFParamListElement e{};
    e.ParamType = UFStringArg;
    e.Parameter.ParamString = const_cast<char*>(s);
    return add(e);
  }
  UFParamBlock* block() {
    block_ = UFParamBlock{};
    block_.StructSize = sizeof block_;
    block_.ReturnValue.ReturnString = buffer_.data();
    for (size_t i = 0; i + 1 < args_.size(); ++i) args_[i].NextParam = &args_[i + 1];
    block_.UFParamList = args_.empty() ? nullptr : &args_[0];
    return &block_;
  }
  std::string result() const { return std::string(buffer_.data()); }
  bool canaryIntact() const {
    for (size_t i = size_; i < buffer_.size(); ++i)
      if (buffer_[i] != kCanaryByte) return false;
    return true;
  }
  bool untouched() const {
    for (size_t i = 0; i < size_; ++i)
      if (buffer_[i] != kUnwritten) return false;
    return canaryIntact();
  }

 private:
  HostCall& add(const UFParamListElement& e) {
    args_.push_back(e);
    args_.back().StructSize = sizeof e;
    return *this;
  }
  size_t size_;
  std::vector<char> buffer_;
  std::vector<UFParamListElement> args_;
  UFParamBlock block_{};
};

// Keeps the process-wide switch as each test found it.
class RoundSwitch : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = roundFlag; }
  void TearDown() override { roundFlag = saved_; }
  int32_t saved_ = 0;
};

struct NumCase {
  const char* name;
  int32_t onoff;
  double width;      // formula values
  double precision;
  const char* text;
  std::string expected;
};

std::string zelNum(int32_t onoff, double width, double precision, const char* text, UFError* err = nullptr,
                   bool* canary = nullptr) {
  reportZelRound(onoff);
  HostCall call(kNumberTextSize);
  call.number(width * 100).number(precision * 100).text(text);
  UFError e = ZelNum(call.block());
  if (err) *err = e;
  if (canary) *canary = call.canaryIntact();
  return call.result();
}

using ZelNumTest = RoundSwitch;

// Each case answers its text with UFNoError and leaves the bytes after the buffer alone.
template <size_t N>
void expectEvery(const NumCase (&cases)[N]) {
  for (const NumCase& c : cases) {
    UFError err = UFUserError;
    bool canary = false;
    EXPECT_EQ(zelNum(c.onoff, c.width, c.precision, c.text, &err, &canary), c.expected) << c.name;
    EXPECT_EQ(err, UFNoError) << c.name;
    EXPECT_TRUE(canary) << c.name;
  }
}

TEST_F(ZelNumTest, FormatsAsTheWorkedExamplesSay) {
  const NumCase cases[] = {
      {"off 10.2", 0, 10, 2, "1234.567", "   1234.57"},
      {"on 10.2", 1, 10, 2, "1234.567", "        1235"},
      {"off beyond the column", 0, 5, 2, "1000.5", kStars},
      {"off equal to the power passes", 0, 5, 2, "1000", "1000.00"},
      {"one digit more than the field", 0, 5, 2, "999.99", "999.99"},
      {"on beyond 10^width", 1, 5, 2, "100001", kStars},
      {"on equal to 10^width", 1, 5, 2, "100000", " 100000"},
      {"off negative never too large", 0, 5, 2, "-123456789", "-123456789.00"},
      {"on negative never too large", 1, 5, 2, "-123456789", "-123456789"},
      {"on small negative loses its sign", 1, 5, 2, "-0.3", "      0"},
      {"off small negative keeps its sign", 0, 5, 2, "-0.3", "-0.30"},
      {"no number reads as zero", 0, 8, 2, "abc", "    0.00"},
      {"negative width, positive number", 0, -8, 2, "5", kStars},
      {"negative width left-aligns", 0, -8, 2, "-5", "-5.00   "},
  };
  expectEvery(cases);
}

TEST_F(ZelNumTest, ReadsTheTextAsADecimalNumber) {
  const std::string tinyRun = "0." + std::string(400, '0') + "1";
  const std::string hugeRun = "1" + std::string(400, '0');
  const std::string tinyRunLifted = "0." + std::string(400, '0') + "5e402";
  const NumCase cases[] = {
      {"a number below any double is zero", 0, 10, 2, tinyRun.c_str(), "      0.00"},
      {"a number above any double is too large", 0, 10, 2, hugeRun.c_str(), kStars},
      {"a long run of zeros lifted by the exponent", 0, 10, 2, tinyRunLifted.c_str(), "     50.00"},
      {"exponent beyond any double", 0, 10, 2, "1e99999999999999999999", kStars},
      {"negative exponent beyond any double", 0, 10, 2, "-1e-99999999999999999999", "     -0.00"},
      {"exponent", 0, 10, 2, "1e3", "   1000.00"},
      {"exponent with garbage", 0, 10, 2, "1.5E2xyz", "    150.00"},
      {"trailing garbage", 0, 10, 2, "12.5abc", "     12.50"},
      {"leading blanks and plus", 0, 10, 2, "  +7", "      7.00"},
      {"point first", 0, 10, 2, ".25", "      0.25"},
      {"exponent without digits stops before e", 0, 10, 2, "1e", "      1.00"},
      {"negative exponent", 0, 10, 2, "25e-1", "      2.50"},
      {"hexadecimal is not a number here", 0, 10, 2, "0x10", "      0.00"},
      {"inf is not a number here", 0, 10, 2, "inf", "      0.00"},
      {"nan is not a number here", 0, 10, 2, "nan", "      0.00"},
      {"empty text", 0, 10, 2, "", "      0.00"},
      {"sign alone", 0, 10, 2, "-", "      0.00"},
  };
  for (const NumCase& c : cases) {
    bool canary = false;
    EXPECT_EQ(zelNum(c.onoff, c.width, c.precision, c.text, nullptr, &canary), c.expected) << c.name;
    EXPECT_TRUE(canary) << c.name;
  }
}

TEST_F(ZelNumTest, ColumnTestUsesTheRealValuedExponent) {
  // 10^3.5 and 10^5.5, computed here: width 5.5 with 2 decimals.
  const double offLimit = std::pow(10.0, 3.5);  // ~3162.28
  const double onLimit = std::pow(10.0, 5.5);   // ~316227.77
  ASSERT_TRUE(offLimit > 3162 && offLimit < 3163);
  ASSERT_TRUE(onLimit > 316227 && onLimit < 316228);
  const NumCase cases[] = {
      {"off just below 10^3.5", 0, 5.5, 2, "3162", "3162.00"},
      {"off just above 10^3.5", 0, 5.5, 2, "3163", kStars},
      // Switch on: 5.5 + 2 = 7.5 truncates to a field of 7.
      {"on just below 10^5.5", 1, 5.5, 2, "316227", " 316227"},
      {"on just above 10^5.5", 1, 5.5, 2, "316228", kStars},
      {"fractional precision truncates", 0, 10, 2.9, "1.239", "      1.24"},
      {"fractional width truncates", 0, 8.9, 1, "2.26", "     2.3"},
  };
  for (const NumCase& c : cases)
    EXPECT_EQ(zelNum(c.onoff, c.width, c.precision, c.text), c.expected) << c.name;
}

TEST_F(ZelNumTest, MinusHalfKeepsItsSignWithTheSwitchOn) {
  // Only values strictly between -0.5 and 0 lose the sign; -0.5 itself is an exact
  // half and goes away from zero.
  EXPECT_EQ(zelNum(1, 5, 2, "-0.5"), "     -1");
  EXPECT_EQ(zelNum(1, 5, 2, "-0.49"), "      0");
}

TEST_F(ZelNumTest, SwitchIsReadAtEveryCall) {
  EXPECT_EQ(zelNum(0, 10, 2, "1234.567"), "   1234.57");
  EXPECT_EQ(zelNum(1, 10, 2, "1234.567"), "        1235");
  EXPECT_EQ(zelNum(0, 10, 2, "1234.567"), "   1234.57");
  EXPECT_EQ(zelNum(7, 10, 2, "1234.567"), "        1235");
}

TEST_F(ZelNumTest, SwitchIsTheLowSixteenBits) {
  const struct {
    int32_t onoff;
    bool on;
  } cases[] = {{0, false}, {65536, false}, {-65536, false}, {1, true}, {-1, true}, {65537, true}, {0x8000, true}};
  for (const auto& c : cases) {
    reportZelRound(c.onoff);
    EXPECT_EQ(roundFlag, c.onoff);
    HostCall call(kNumberTextSize);
    call.number(1000).number(200).text("1234.567");
    ASSERT_EQ(ZelNum(call.block()), UFNoError);
    EXPECT_EQ(call.result(), c.on ? "        1235" : "   1234.57") << c.onoff;
  }
}

TEST_F(ZelNumTest, OddWidthsAndPrecisionsGiveDefinedAnswers) {
  const std::string pad19 = std::string(15, ' ') + "1.00";
  const NumCase cases[] = {
      {"width 300 is a 254 field, trimmed to 19", 0, 300, 2, "1", pad19},
      // Capped first: 254 - 290 gives '%-36.0lf'; uncapped it would be '%10.0lf'.
      {"on, the cap comes before width + precision", 1, 300, -290, "5", "5" + std::string(18, ' ')},
      {"width 25 trimmed to 19", 0, 25, 2, "1234.5", std::string(12, ' ') + "1234.50"},
      {"width -25 trimmed to 19", 0, -25, 2, "-1234.5", "-1234.50" + std::string(11, ' ')},
      {"huge width", 0, 1e12, 2, "1", pad19},
      {"infinite width", 0, kInf, 2, "1", pad19},
      {"huge negative width, negative number", 0, -1e12, 2, "-5", "-5.00" + std::string(14, ' ')},
      {"minus infinite width, negative number", 0, -kInf, 2, "-5", "-5.00" + std::string(14, ' ')},
      {"minus infinite width, positive number", 0, -kInf, 2, "5", kStars},
      {"NaN width: no field, never too large", 0, kNaN, 2, "12.5", "12.50"},
      {"NaN precision: no decimals", 0, 10, kNaN, "1234.567", "      1235"},
      {"NaN width, switch on", 1, kNaN, 2, "12.7", "13"},
      {"negative precision prints no decimals", 0, 10, -2, "1234.567", "      1235"},
      // The column test keeps width - precision: 3 - (-2) = 5.
      {"negative precision widens the column test", 0, 3, -2, "99999", "99999"},
      {"negative precision, beyond the column", 0, 3, -2, "100001", kStars},
      {"huge precision is too large", 0, 10, 1e6, "5", kStars},
      {"huge precision, negative number too wide", 0, 10, 1e6, "-5", kStars},
      {"switch on, negative field left-aligns", 1, -8, 2, "-5", "-5    "},
      {"switch on, huge width and precision", 1, 1e9, 1e9, "-5", std::string(17, ' ') + "-5"},
  };
  for (const NumCase& c : cases) {
    bool canary = false;
    EXPECT_EQ(zelNum(c.onoff, c.width, c.precision, c.text, nullptr, &canary), c.expected) << c.name;
    EXPECT_TRUE(canary) << c.name;
  }
}

TEST_F(ZelNumTest, NumbersWiderThanTheResultGiveAsterisks) {
  // 17 decimals of zero: "0." and 17 zeros, exactly 19 characters.
  const std::string zero17 = "0." + std::string(17, '0');
  ASSERT_EQ(zero17.size(), 19u);
  // A 19-character rounded number, as the C library prints its double.
  char ref[64];
  std::snprintf(ref, sizeof ref, "%.0f", -123456789012345678.0);
  ASSERT_EQ(std::strlen(ref), 19u);
  const NumCase cases[] = {
      {"19 characters fit", 0, 5, 17, "0", zero17},
      {"20 characters do not", 0, 5, 17, "-1", kStars},
      {"21 characters with the field grown", 0, 5, 2, "-12345678901234567.5", kStars},
      {"on: 19 digits with sign fit", 1, 5, 2, "-123456789012345678", ref},
      {"on: 20 characters do not", 1, 5, 2, "-1234567890123456789", kStars},
      {"overflow to infinity", 0, 10, 2, "1e999", kStars},
      {"overflow to minus infinity", 0, 10, 2, "-1e999", kStars},
      {"huge negative number", 0, 10, 2, "-1e300", kStars},
  };
  for (const NumCase& c : cases) {
    bool canary = false;
    EXPECT_EQ(zelNum(c.onoff, c.width, c.precision, c.text, nullptr, &canary), c.expected) << c.name;
    EXPECT_TRUE(canary) << c.name;
  }
}

TEST_F(ZelNumTest, MissingArgumentsLeaveTheResultUntouched) {
  for (int given = 0; given < 3; ++given) {
    HostCall call(kNumberTextSize);
    if (given > 0) call.number(1000);
    if (given > 1) call.number(200);
    EXPECT_EQ(ZelNum(call.block()), UFNotEnoughParameters) << given;
    EXPECT_TRUE(call.untouched()) << given;
  }
  EXPECT_EQ(ZelNum(nullptr), UFNotEnoughParameters);
}

TEST_F(ZelNumTest, NullPointersAreRefusedSafely) {
  HostCall call(kNumberTextSize);
  call.number(1000).number(200).text("1");
  UFParamBlock* block = call.block();
  block->ReturnValue.ReturnString = nullptr;
  EXPECT_NE(ZelNum(block), UFNoError);

  HostCall nullText(kNumberTextSize);
  nullText.number(1000).number(200).text(nullptr);
  EXPECT_EQ(ZelNum(nullText.block()), UFNoError);
  EXPECT_EQ(nullText.result(), "      0.00");
}

struct TextCase {
  const char* name;
  double host;  // what the host passes
  std::string expected;
};

TEST(ZelToText, FormatsTwoDecimalsInSeventeen) {
  const TextCase cases[] = {
      {"worked example", 123456, "          1234.56"},
      {"negative half", -50, "            -0.50"},
      {"zero", 0, "             0.00"},
      {"16 integer digits fit", 1e17, "1000000000000000.00"},
      {"16 integer digits and a sign do not", -1e17, kStars},
      {"17 integer digits do not", 1e18, kStars},
      {"huge", 1e300, kStars},
      {"NaN", kNaN, kStars},
      {"infinity", kInf, kStars},
      {"minus infinity", -kInf, kStars},
  };
  for (const TextCase& c : cases) {
    HostCall call(kNumberTextSize);
    call.number(c.host);
    EXPECT_EQ(ZelToText(call.block()), UFNoError) << c.name;
    EXPECT_EQ(call.result(), c.expected) << c.name;
    EXPECT_TRUE(call.canaryIntact()) << c.name;
  }
}

TEST(ZelToText, MissingArgumentOrBufferIsRefused) {
  HostCall call(kNumberTextSize);
  EXPECT_EQ(ZelToText(call.block()), UFNotEnoughParameters);
  EXPECT_TRUE(call.untouched());
  EXPECT_EQ(ZelToText(nullptr), UFNotEnoughParameters);

  HostCall noBuffer(kNumberTextSize);
  noBuffer.number(100);
  UFParamBlock* block = noBuffer.block();
  block->ReturnValue.ReturnString = nullptr;
  EXPECT_NE(ZelToText(block), UFNoError);
}

TEST(ReturnSize, BothNumberFunctionsReportTwentyBytes) {
  for (auto fn : {ZelNumStringRetSize, ZelToTextStringRetSize}) {
    UFMemCalcBlock b{};
    b.StructSize = 18;
    b.MemCalcCommand = UFCalcArraySize;
    b.UFMemCalcArrayLength = 3;
    b.UFMemCalcStringLength = -1;
    EXPECT_EQ(fn(&b), UFNoError);
    // Fields of the packed record are copied out before comparing.
    const int16_t size = b.UFMemCalcStringLength;
    EXPECT_EQ(size, 20);
    // Nothing else in the block is written.
    const uint16_t structSize = b.StructSize;
    const UFMemCalcType command = b.MemCalcCommand;
    const int16_t arrayLength = b.UFMemCalcArrayLength;
    const void* calcList = b.UFMemCalcParamList;
    const void* paramList = b.UFParamList;
    EXPECT_EQ(structSize, 18);
    EXPECT_EQ(command, UFCalcArraySize);
    EXPECT_EQ(arrayLength, 3);
    EXPECT_EQ(calcList, nullptr);
    EXPECT_EQ(paramList, nullptr);
    EXPECT_NE(fn(nullptr), UFNoError);
  }
}

// ---- exact digits, halves away from zero ----

TEST_F(ZelNumTest, ExactHalvesGoAwayFromZero) {
  const NumCase cases[] = {
      // The reported cases.
      {"whole units of 1234.50", 1, 10, 2, "1234.5", "        1235"},
      {"2.5 with no decimals", 0, 10, 0, "2.5", "         3"},
      {"0.125 with two decimals", 0, 10, 2, "0.125", "      0.13"},
      {"-0.5 with the switch on", 1, 5, 2, "-0.5", "     -1"},
      // Ties at 0 to 4 decimals, both signs.
      {"0.5", 0, 4, 0, "0.5", "   1"},
      {"-0.5 off", 0, 4, 0, "-0.5", "  -1"},
      {"1.5", 0, 4, 0, "1.5", "   2"},
      {"-2.5", 0, 4, 0, "-2.5", "  -3"},
      {"carry into a new digit", 0, 4, 0, "99.5", " 100"},
      {"negative carry", 0, 6, 0, "-999.5", " -1000"},
      {"0.25 at one", 0, 6, 1, "0.25", "   0.3"},
      {"-0.25 at one", 0, 6, 1, "-0.25", "  -0.3"},
      {"9.75 at one", 0, 6, 1, "9.75", "   9.8"},
      {"-0.375 at two", 0, 6, 2, "-0.375", " -0.38"},
      {"-0.625 at two", 0, 6, 2, "-0.625", " -0.63"},
      {"0.0625 at three", 0, 8, 3, "0.0625", "   0.063"},
      {"-1.0625 at three", 0, 8, 3, "-1.0625", "  -1.063"},
      {"9.9375 at three", 0, 8, 3, "9.9375", "   9.938"},
      {"0.03125 at four", 0, 8, 4, "0.03125", "  0.0313"},
      {"-0.96875 at four", 0, 8, 4, "-0.96875", " -0.9688"},
      {"9.96875 at four", 0, 8, 4, "9.96875", "  9.9688"},
      // The switch on rounds to whole units in width + precision.
      {"on 2.5", 1, 4, 1, "2.5", "    3"},
      {"on -2.5", 1, 4, 1, "-2.5", "   -3"},
      {"on 0.5", 1, 2, 0, "0.5", " 1"},
      {"on carry", 1, 2, 1, "99.5", "100"},
      {"on left-aligned", 1, -6, 0, "-2.5", "-3    "},
      // Widths too small grow, negative widths pad on the right.
      {"too small a field grows", 0, 2, 2, "0.125", "0.13"},
      {"left-aligned tie", 0, -8, 2, "-0.125", "-0.13   "},
      {"field of 19", 0, 19, 2, "-0.125", std::string(14, ' ') + "-0.13"},
      {"field beyond 19 loses padding", 0, 30, 4, "0.03125", std::string(13, ' ') + "0.0313"},
      // Not ties: the exact binary value decides.
      {"2.675 is below the half", 0, 6, 2, "2.675", "  2.67"},
      {"1.005 is below the half", 0, 6, 2, "1.005", "  1.00"},
      {"0.15 is below the half", 0, 6, 1, "0.15", "   0.1"},
      {"0.45 is above the half", 0, 6, 1, "0.45", "   0.5"},
      {"1234.567 off", 0, 10, 2, "1234.567", "   1234.57"},
  };
  expectEvery(cases);
}

TEST(ZelToText, ExactHalvesGoAwayFromZero) {
  const TextCase cases[] = {
      {"0.125", 12.5, "             0.13"},
      {"-0.125", -12.5, "            -0.13"},
      {"0.375", 37.5, "             0.38"},
      {"1.125", 112.5, "             1.13"},
      {"-1234.625", -123462.5, "         -1234.63"},
      {"not a tie: 0.005 is stored above the half", 0.5, "             0.01"},
  };
  for (const TextCase& c : cases) {
    HostCall call(kNumberTextSize);
    call.number(c.host);
    EXPECT_EQ(ZelToText(call.block()), UFNoError) << c.name;
    EXPECT_EQ(call.result(), c.expected) << c.name;
    EXPECT_TRUE(call.canaryIntact()) << c.name;
  }
}

// Independent reference: the exact decimal expansion of a double, worked out with
// big integers (base 10^9), then cut to the decimals, rounding a half away from zero.
class ExactDecimal {
 public:
  explicit ExactDecimal(double v) {
    negative_ = std::signbit(v);
    int exp = 0;
    const double frac = std::frexp(std::fabs(v), &exp);  // v = frac * 2^exp, frac in [0.5, 1)
    uint64_t m = static_cast<uint64_t>(std::ldexp(frac, 53));
    int e = exp - 53;
    if (m == 0) e = 0;
    limbs_.push_back(static_cast<uint32_t>(m % kBase));
    limbs_.push_back(static_cast<uint32_t>(m / kBase % kBase));
    limbs_.push_back(static_cast<uint32_t>(m / kBase / kBase));
    // v = m * 2^e: times 2^e for e >= 0, else m * 5^-e with -e decimals.
    for (; e > 0; e -= std::min(e, 29)) multiply(uint32_t{1} << std::min(e, 29));
    for (; e < 0; e += std::min(-e, 13)) {
      const int k = std::min(-e, 13);
      uint32_t p = 1;
      for (int i = 0; i < k; ++i) p *= 5;
      multiply(p);
      scale_ += k;
    }
    std::string digits;
    for (size_t i = limbs_.size(); i-- > 0;) {
      char buf[16];
      std::snprintf(buf, sizeof buf, i + 1 == limbs_.size() ? "%u" : "%09u", limbs_[i]);
      digits += buf;
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (static_cast<int>(digits.size()) <= scale_) digits.insert(0, scale_ + 1 - digits.size(), '0');
    intPart_ = digits.substr(0, digits.size() - scale_);
    fracPart_ = digits.substr(digits.size() - scale_);
  }

  std::string fixed(int decimals) const {
    std::string fraction = fracPart_;
    if (static_cast<int>(fraction.size()) < decimals + 1) fraction.append(decimals + 1 - fraction.size(), '0');
    std::string kept = intPart_ + fraction.substr(0, decimals);
    if (fraction[decimals] >= '5') {  // at or beyond the half: away from zero
      size_t i = kept.size();
      while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
      if (i == 0)
        kept.insert(0, "1");
      else
        ++kept[i - 1];
    }
    const size_t intDigits = kept.size() - decimals;
    std::string text = (negative_ ? "-" : "") + kept.substr(0, intDigits);
    if (decimals > 0) text += "." + kept.substr(intDigits);
    return text;
  }

 private:
  static constexpr uint64_t kBase = 1000000000;
  void multiply(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : limbs_) {
      const uint64_t x = uint64_t{limb} * factor + carry;
      limb = static_cast<uint32_t>(x % kBase);
      carry = x / kBase;
    }
    while (carry) {
      limbs_.push_back(static_cast<uint32_t>(carry % kBase));
      carry /= kBase;
    }
  }
  std::vector<uint32_t> limbs_;
  int scale_ = 0;  // decimals in the digits
  bool negative_ = false;
  std::string intPart_, fracPart_;
};

TEST(ExactDecimalReference, KnowsItsOwnAnswers) {
  // The reference itself, on values whose expansions are known by hand.
  EXPECT_EQ(ExactDecimal(0.1).fixed(30), "0.100000000000000005551115123126");
  EXPECT_EQ(ExactDecimal(2.5).fixed(0), "3");
  EXPECT_EQ(ExactDecimal(-0.5).fixed(0), "-1");
  EXPECT_EQ(ExactDecimal(-0.0).fixed(2), "-0.00");
  EXPECT_EQ(ExactDecimal(1e22).fixed(1), "10000000000000000000000.0");
  EXPECT_EQ(ExactDecimal(9.996).fixed(2), "10.00");
  EXPECT_EQ(ExactDecimal(std::ldexp(1.0, -1074)).fixed(20), "0.00000000000000000000");
}

// Values that stress the rounding: exact ties at every precision, their neighbours
// one ulp either side, short decimals as a user types them, huge and tiny magnitudes.
std::vector<double> sweepValues() {
  std::mt19937_64 rng(20261207);
  std::vector<double> values;
  for (int i = 0; i < 12000; ++i) {
    const int decimals = static_cast<int>(rng() % 21);
    // m odd, below 2^40: m * 2^-(decimals + 1) is a tie at `decimals`.
    const double m = static_cast<double>((rng() % (uint64_t{1} << 40)) | 1);
    const double tie = std::ldexp(m, -(decimals + 1)) * ((rng() & 1) ? -1 : 1);
    values.push_back(tie);
    values.push_back(std::nextafter(tie, 0.0));
    values.push_back(std::nextafter(tie, tie * 2));
  }
  for (int i = 0; i < 8000; ++i) {
    // Short decimals: cents, mills and the like.
    const long long units = static_cast<long long>(rng() % 2000000000) - 1000000000;
    const int scale = static_cast<int>(rng() % 6);
    values.push_back(static_cast<double>(units) / std::pow(10.0, scale));
  }
  for (int i = 0; i < 6000; ++i) {
    // Any finite double of a wide range of magnitudes.
    const double mantissa = std::ldexp(static_cast<double>(rng() >> 11), -53);
    const int exponent = static_cast<int>(rng() % 260) - 200;  // 2^-200 .. 2^60
    values.push_back(std::ldexp(mantissa, exponent) * ((rng() & 1) ? -1 : 1));
  }
  const double fixed[] = {0.0, -0.0, 0.5, -0.5, 1e300, -1e300, 4.9e-324, -4.9e-324, 2.2250738585072014e-308,
                          1.7976931348623157e308, 9007199254740993.0, 0.999999999999999999};
  values.insert(values.end(), std::begin(fixed), std::end(fixed));
  return values;
}

TEST(FixedText, MatchesTheExactReferenceAtEveryPrecision) {
  const std::vector<double> values = sweepValues();
  ASSERT_GT(values.size(), 50000u);
  int mismatches = 0;
  for (double v : values) {
    const ExactDecimal exact(v);
    for (int decimals = 0; decimals <= 20; ++decimals) {
      char buf[kFixedTextRoom];
      const size_t n = fixedText(buf, sizeof buf, v, 0, decimals);
      const std::string want = exact.fixed(decimals);
      if (std::string(buf, n) != want && ++mismatches <= 10)
        ADD_FAILURE() << "value " << std::hexfloat << v << " decimals " << decimals << ": got '"
                      << std::string(buf, n) << "', want '" << want << "'";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FixedText, PadsRefusesAndFits) {
  char buf[kFixedTextRoom];
  struct {
    double value;
    int width, decimals;
    std::string expected;
  } cases[] = {
      {2.5, 4, 0, "   3"},       {2.5, -4, 0, "3   "},   {-0.125, 3, 2, "-0.13"},
      {0.125, -254, 2, "0.13" + std::string(250, ' ')}, {1.5, 0, 0, "2"},
  };
  for (const auto& c : cases) {
    const size_t n = fixedText(buf, sizeof buf, c.value, c.width, c.decimals);
    EXPECT_EQ(std::string(buf, n), c.expected) << c.value << " " << c.width << "." << c.decimals;
    EXPECT_EQ(buf[n], '\0');
  }
  // Refused: not finite, negative decimals, no room (the carry of 9.5 needs two digits).
  EXPECT_EQ(fixedText(buf, sizeof buf, std::numeric_limits<double>::infinity(), 0, 2), 0u);
  EXPECT_EQ(fixedText(buf, sizeof buf, std::nan(""), 0, 2), 0u);
  EXPECT_EQ(fixedText(buf, sizeof buf, 1.0, 0, -1), 0u);
  EXPECT_EQ(fixedText(buf, 3, 9.5, 0, 0), 0u);
  EXPECT_EQ(fixedText(buf, 3, 1.0, 3, 0), 0u);
  EXPECT_EQ(fixedText(buf, 5, 1.5, 0, 0), 1u);  // room for the exact "1.5" and a carry on the way to "2"
  EXPECT_EQ(fixedText(nullptr, 10, 1.0, 0, 0), 0u);
}

TEST_F(ZelNumTest, SweepThroughTheEntryPointsMatchesTheReference) {
  // Values below 10^12 fit a 19-character field with up to 4 decimals.
  std::vector<double> values;
  for (double v : sweepValues())
    if (std::fabs(v) < 1e12) values.push_back(v);
  ASSERT_GT(values.size(), 30000u);
  int mismatches = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    const double v = values[i];
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);  // reads back as the same double
    const int decimals = static_cast<int>(i % 5);
    const bool on = (i / 5) % 2 == 1;
    std::string want = ExactDecimal(on && v < 0.0 && v > -0.5 ? 0.0 : v).fixed(on ? 0 : decimals);
    want.insert(0, 19 - want.size(), ' ');
    // Off: width 19 with the decimals; on: 15 + 4 is a field of 19 in whole units.
    const std::string got = on ? zelNum(1, 15, 4, text) : zelNum(0, 19, decimals, text);
    if (got != want && ++mismatches <= 10)
      ADD_FAILURE() << text << (on ? " on" : " off") << " decimals " << decimals << ": got '" << got << "', want '"
                    << want << "'";
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(ZelToText, SweepMatchesTheReference) {
  // Host numbers of whole and half cents and of any fraction, up to 15 integer digits.
  std::mt19937_64 rng(11);
  int mismatches = 0;
  for (int i = 0; i < 20000; ++i) {
    const double whole = static_cast<double>(static_cast<long long>(rng() % 200000000000000000ULL) - 100000000000000000LL);
    const double host = i % 3 == 0 ? whole : i % 3 == 1 ? whole / 1000.0 + 0.5 : std::ldexp(whole, -40);
    std::string want = ExactDecimal(host * 0.01).fixed(2);
    if (want.size() < 17) want.insert(0, 17 - want.size(), ' ');
    if (want.size() > 19) want = kStars;
    HostCall call(kNumberTextSize);
    call.number(host);
    ASSERT_EQ(ZelToText(call.block()), UFNoError);
    if (call.result() != want && ++mismatches <= 10)
      ADD_FAILURE() << std::hexfloat << host << ": got '" << call.result() << "', want '" << want << "'";
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(ZelNumTest, RoundingModeChangesNoResult) {
  // Numbers whose reading or scaling by 0.01 would come out differently rounded up,
  // down or toward zero; each call must give the to-nearest answer and leave the mode.
  std::mt19937_64 rng(7);
  std::vector<std::string> texts = {"1234.567", "0.1", "2.675", "-0.3", "0.125", "1.005"};
  std::vector<double> hosts = {123456, 12.5, -50, 1, 3, 7};
  for (int i = 0; i < 200; ++i) {
    char t[32];
    std::snprintf(t, sizeof t, "%d.%03d", static_cast<int>(rng() % 100000), static_cast<int>(rng() % 1000));
    texts.push_back(t);
    hosts.push_back(static_cast<double>(rng() % 100000000) - 50000000);
  }
  auto results = [&] {
    std::vector<std::string> out;
    // Thirteen decimals show an ulp of the number read.
    for (const std::string& t : texts) out.push_back(zelNum(0, 19, 13, t.c_str()));
    for (double h : hosts) {
      HostCall call(kNumberTextSize);
      call.number(h);
      ZelToText(call.block());
      out.push_back(call.result());
    }
    return out;
  };
  const std::vector<std::string> nearest = results();
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    const std::vector<std::string> got = results();
    const int after = std::fegetround();
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(after, mode);
    ASSERT_EQ(got.size(), nearest.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], nearest[i]) << "mode " << mode << " case " << i;
  }
}

#if defined(__GLIBC__)
// A host may run with floating-point traps enabled (overflow, invalid operation,
// division by zero). Overflowing powers, a number text beyond the range of a double
// and NaN arguments must give their usual answers without raising a trap, and the
// host's traps must be enabled again afterwards.
TEST_F(ZelNumTest, HostFloatingPointTrapsNeverFire) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const NumCase cases[] = {
      {"10 to a huge power overflows", 0, 10, -1e6, "5", "         5"},
      {"10 to a huge power, switch on", 1, 1e9, 1e9, "-5", std::string(17, ' ') + "-5"},
      {"the text overflows a double", 0, 10, 2, "1e999", kStars},
      {"the text overflows negatively", 0, 10, 2, "-1e999", kStars},
      {"NaN width", 0, kNaN, 2, "12.5", "12.50"},
      {"NaN precision", 0, 10, kNaN, "1234.567", "      1235"},
      {"NaN width, switch on", 1, kNaN, 2, "12.7", "13"},
  };
  const int traps = FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO;
  for (const NumCase& c : cases) {
    EXPECT_EXIT(
        {
          std::feclearexcept(FE_ALL_EXCEPT);
          feenableexcept(traps);
          const std::string got = zelNum(c.onoff, c.width, c.precision, c.text);
          HostCall call(kNumberTextSize);
          call.number(c.width * 100);
          const UFError toText = ZelToText(call.block());
          const bool trapsBack = fegetexcept() == traps;
          // No flag raised inside is left behind to fault at the host's next operation.
          const bool flagsAsBefore = std::fetestexcept(traps) == 0;
          fedisableexcept(traps);
          std::exit(got == c.expected && toText == UFNoError && trapsBack && flagsAsBefore ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "")
        << c.name;
  }
}
#endif

// The host's locale, set for the whole process, may make the comma the decimal point
// of the C library. The number text is read with the point whatever that locale says.
class CommaLocale {
 public:
  // A locale of the system, else one compiled into dir and found through LOCPATH.
  explicit CommaLocale(const std::string& dir) : saved_(std::setlocale(LC_NUMERIC, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
      if (std::setlocale(LC_NUMERIC, name) && hasComma()) return;
    const std::string made = dir + "/de_DE.UTF-8";
    const std::string command = "localedef -i de_DE -f UTF-8 '" + made + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    locpath_.reset(new testenv::ScopedEnv("LOCPATH", dir.c_str()));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  }
  ~CommaLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
  static bool hasComma() { return std::strcmp(std::localeconv()->decimal_point, ",") == 0; }

 private:
  std::string saved_;
  std::unique_ptr<testenv::ScopedEnv> locpath_;
};

TEST_F(ZelNumTest, TheHostsLocaleDoesNotChangeTheNumberRead) {
  testenv::TempDir dir;
  CommaLocale locale(dir.path());
  ASSERT_TRUE(CommaLocale::hasComma()) << "no locale with a decimal comma could be set (package locales)";
  char commaText[16];
  std::snprintf(commaText, sizeof commaText, "%.1f", 2.5);
  ASSERT_STREQ(commaText, "2,5");  // the C library now writes and reads the comma
  const NumCase cases[] = {
      {"point", 0, 10, 2, "1234.567", "   1234.57"},
      {"point, switch on", 1, 10, 2, "1234.567", "        1235"},
      {"point first", 0, 10, 2, ".25", "      0.25"},
      {"exponent after a point", 0, 10, 2, "1.5e2", "    150.00"},
      {"small negative, switch on", 1, 5, 2, "-0.3", "      0"},
      {"the column test sees the decimals", 0, 5, 2, "999.99", "999.99"},
      {"beyond the column", 0, 5, 2, "1000.5", kStars},
      {"a comma ends the number", 0, 10, 2, "2,75", "      2.00"},
      {"overflow", 0, 10, 2, "1.5e999", kStars},
      {"underflow", 0, 10, 2, "1.5e-999", "      0.00"},
  };
  expectEvery(cases);
}

// ---- header splitting ----

constexpr size_t kHostStringBuffer = 255;

struct SplitCase {
  double length;  // host values
  double line;
  const char* text;
  std::string expected;
};

std::string split(double hostLength, double hostLine, const char* text, UFError* err = nullptr,
                  bool* canary = nullptr) {
  HostCall call(kHostStringBuffer);
  call.number(hostLength).number(hostLine).text(text);
  UFError e = ZelSplitHdr(call.block());
  if (err) *err = e;
  if (canary) *canary = call.canaryIntact();
  return call.result();
}

TEST(ZelSplitHdr, SplitsAsTheWorkedExamplesSay) {
  const std::string blanks8(8, ' '), blanks10(10, ' ');
  const SplitCase cases[] = {
      {800, 100, "hello world", " hello  "},
      {800, 200, "hello world", " world  "},
      {800, 300, "hello world", blanks8},
      {800, 900, "hello world", blanks8},
      {800, 0, "hello world", "   h    "},
      {400, 100, "abc defgh", "abc "},
      {400, 200, "abc defgh", "defg"},
      {400, 300, "abc defgh", " h  "},
      {500, 100, "abcde fg", "abcde"},
      {500, 200, "abcde fg", "  fg "},
      {800, 100, "abc defghij", "  abc   "},
      {800, 200, "abc defghij", "defghij "},
      {1200, 100, "  Quarterly fixed asset report  ", " Quarterly  "},
      {1200, 200, "  Quarterly fixed asset report  ", "fixed asset "},
      {1200, 300, "  Quarterly fixed asset report  ", "   report   "},
      {1000, 100, "Title", "  Title   "},
      {1000, 200, "Title", blanks10},
      {1000, 0, "Title", blanks10},
      {1000, -100, "Title", blanks10},
      {1000, 100, "   ", blanks10},
      {1000, 300, "   ", blanks10},
      {1050, 190, "Title", "  Title   "},  // 10.5 and 1.9 act as 10 and 1
      {1099, 199, "hello world", "  hello   "},
  };
  for (const SplitCase& c : cases) {
    UFError err = UFUserError;
    bool canary = false;
    EXPECT_EQ(split(c.length, c.line, c.text, &err, &canary), c.expected)
        << c.length << " " << c.line << " '" << c.text << "'";
    EXPECT_EQ(err, UFNoError);
    EXPECT_TRUE(canary);
  }
}

TEST(ZelSplitHdr, OnlyTheSpaceIsABlank) {
  // A tab is an ordinary character: the break falls at the space.
  EXPECT_EQ(split(300, 100, "a\tb c"), "a\tb");
  EXPECT_EQ(split(300, 200, "a\tb c"), " c ");
  EXPECT_EQ(split(700, 100, "\tTitle\t"), "\tTitle\t");
}

TEST(ZelSplitHdr, LineLengthsOutsideTheBufferAreBounded) {
  const SplitCase cases[] = {
      {0, 100, "Title", ""},
      {99, 100, "Title", ""},  // 0.99 truncates to 0
      {-500, 100, "Title", ""},
      {-1e300, 100, "Title", ""},
      {kNaN, 100, "Title", ""},
      {-kInf, 100, "Title", ""},
      {100, 100, "Title", "T"},
      {100, 300, "Title", "t"},
      {100, 400, "Title", "l"},
      {25400, 100, "Title", std::string(124, ' ') + "Title" + std::string(125, ' ')},
      {30000, 100, "Title", std::string(124, ' ') + "Title" + std::string(125, ' ')},
      {1e300, 100, "Title", std::string(124, ' ') + "Title" + std::string(125, ' ')},
      {kInf, 100, "Title", std::string(124, ' ') + "Title" + std::string(125, ' ')},
  };
  for (const SplitCase& c : cases) {
    UFError err = UFUserError;
    bool canary = false;
    EXPECT_EQ(split(c.length, c.line, c.text, &err, &canary), c.expected) << c.length;
    EXPECT_EQ(err, UFNoError) << c.length;
    EXPECT_TRUE(canary) << c.length;
  }
}

TEST(ZelSplitHdr, LineNumbersFarBeyondTheEndGiveBlanks) {
  const std::string blanks8(8, ' ');
  for (double line : {1e4, 2147483647.0, 1e12, 1e300, kInf}) {
    bool canary = false;
    EXPECT_EQ(split(800, line, "hello world", nullptr, &canary), blanks8) << line;
    EXPECT_TRUE(canary);
  }
  EXPECT_EQ(split(800, kNaN, "hello world"), "   h    ");  // NaN counts as line 0
}

TEST(ZelSplitHdr, NullHeaderIsTheEmptyText) {
  EXPECT_EQ(split(500, 100, nullptr), "     ");
}

TEST(ZelSplitHdr, MissingArgumentsOrBufferAreRefused) {
  for (int given = 0; given < 3; ++given) {
    HostCall call(kHostStringBuffer);
    if (given > 0) call.number(800);
    if (given > 1) call.number(100);
    EXPECT_EQ(ZelSplitHdr(call.block()), UFNotEnoughParameters) << given;
    EXPECT_TRUE(call.untouched()) << given;
  }
  EXPECT_EQ(ZelSplitHdr(nullptr), UFNotEnoughParameters);

  HostCall noBuffer(kHostStringBuffer);
  noBuffer.number(800).number(100).text("hello");
  UFParamBlock* block = noBuffer.block();
  block->ReturnValue.ReturnString = nullptr;
  EXPECT_NE(ZelSplitHdr(block), UFNoError);
}

// Every line of a long header: exactly the line length, nothing lost or added
// but blanks, at most one pass of lines before the rest turn blank.
TEST(ZelSplitHdr, LongHeadersSplitIntoCompleteLines) {
  std::string header;
  const char* words[] = {"Net", "book", "value", "after", "accumulated", "depreciation", "x",
                         "Supercalifragilisticexpialidocious", "of", "assets"};
  for (int i = 0; i < 60; ++i) header += std::string(words[(i * 7) % 10]) + (i % 5 == 0 ? "  " : " ");
  header = "  " + header;

  auto nonBlanks = [](const std::string& s) {
    std::string r;
    for (char ch : s)
      if (ch != ' ') r += ch;
    return r;
  };
  // Every line holds at least one character, so the text is used up by this line.
  const int lastLine = static_cast<int>(header.size()) + 1;
  for (int length : {1, 2, 3, 5, 8, 13, 40, 100, 254}) {
    std::string joined;
    for (int line = 1; line <= lastLine + 2; ++line) {
      bool canary = false;
      std::string got = split(length * 100.0, line * 100.0, header.c_str(), nullptr, &canary);
      ASSERT_TRUE(canary);
      ASSERT_EQ(got.size(), static_cast<size_t>(length)) << length << " line " << line;
      if (line >= lastLine) {
        EXPECT_EQ(got, std::string(length, ' ')) << length << " line " << line;
      }
      joined += got;
    }
    EXPECT_EQ(nonBlanks(joined), nonBlanks(header)) << length;
  }
}

TEST(RemoveBlanks, TrimsInPlace) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},       {"   ", ""},       {"ab", "ab"},         {"  ab  ", "ab"},
      {" a b ", "a b"}, {"a  ", "a"},    {"\tab\t", "\tab\t"}, {" \t ", "\t"},
  };
  for (const auto& c : cases) {
    // A guard byte before the text shows the trim never walks in front of it.
    std::vector<char> buf(std::strlen(c.in) + 2, '\0');
    buf[0] = ' ';
    std::memcpy(buf.data() + 1, c.in, std::strlen(c.in));
    char* text = buf.data() + 1;
    char* start = removeBlanks(text);
    EXPECT_STREQ(start, c.out) << "'" << c.in << "'";
    EXPECT_GE(start, text);
    EXPECT_EQ(buf[0], ' ');
  }
  EXPECT_EQ(removeBlanks(nullptr), nullptr);
}

}  // namespace
