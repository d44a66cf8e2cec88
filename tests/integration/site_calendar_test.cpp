// ufhost --calendar: the fiscal years it works out through ZelFYEnd, as text and
// as a page that a real headless browser (chromium) loads and draws.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "host_dates.h"
#include "odbc_env.h"
#include "site_run.h"

namespace {

using sitetest::contains;
using sitetest::count;
using testenv::Backend;
using testenv::DataSource;
using testenv::Schema;

struct Row {
  int book = -1;
  std::string first, last, note;
  int days = 0;
};

// The rows of the text table, each with its book.
std::vector<Row> rowsOf(const std::string& out) {
  std::vector<Row> rows;
  std::istringstream in(out);
  std::string line;
  int book = -1;
  while (std::getline(in, line)) {
    if (line.rfind("Book ", 0) == 0) book = std::atoi(line.c_str() + 5);
    if (line.size() < 40 || line.compare(0, 2, "  ") != 0 || !std::isdigit(static_cast<unsigned char>(line[2])))
      continue;
    Row r;
    r.book = book;
    r.first = line.substr(2, 10);
    r.last = line.substr(15, 10);
    r.days = std::atoi(line.substr(27, 6).c_str());
    r.note = line.size() > 43 ? line.substr(43) : "";
    rows.push_back(r);
  }
  return rows;
}

int32_t day(const std::string& iso) {
  return ufhost::dayNumberFromCivil(std::atoi(iso.c_str()), std::atoi(iso.c_str() + 5), std::atoi(iso.c_str() + 8));
}

TEST(CalendarView, BuiltCalendarsShowTheirShortYears) {
  DataSource source(Backend::SQLite, Schema::V4);
  sitetest::Site site;
  sitetest::Outcome o = site.ufhost({"--calendar", "1", "--books", "1-2", "--from", "1997", "--to", "2006"});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_TRUE(contains(o.out, "Company 1: fiscal years from 1997 to 2006")) << o.out;
  std::vector<Row> rows = rowsOf(o.out);
  // Short years of the sample (db/README.md): book 1 one, book 2 two.
  struct Short {
    int book;
    const char* first;
    const char* last;
    int days;
  } shorts[] = {{1, "2001-07-01", "2001-09-30", 92}, {2, "1998-04-01", "1998-12-31", 275},
                {2, "2004-01-01", "2004-06-30", 182}};
  int marked = 0;
  for (const Row& r : rows)
    if (r.note == "short year") ++marked;
  EXPECT_EQ(marked, 3) << o.out;
  for (const Short& s : shorts) {
    bool found = false;
    for (const Row& r : rows)
      found = found || (r.book == s.book && r.first == s.first && r.last == s.last && r.days == s.days &&
                        r.note == "short year");
    EXPECT_TRUE(found) << s.first << "\n" << o.out;
  }
  // Each book's years follow on without gap and cover the range.
  for (int book : {1, 2}) {
    SCOPED_TRACE(book);
    std::vector<Row> own;
    for (const Row& r : rows)
      if (r.book == book) own.push_back(r);
    ASSERT_FALSE(own.empty());
    EXPECT_LE(day(own.front().first), day("1997-01-01"));
    EXPECT_GE(day(own.back().last), day("2006-12-31"));
    for (size_t i = 0; i < own.size(); ++i) {
      EXPECT_EQ(day(own[i].last) - day(own[i].first) + 1, own[i].days);
      if (i > 0) {
        EXPECT_EQ(day(own[i].first), day(own[i - 1].last) + 1) << own[i].first;
      }
    }
  }
}

// The Saturday on or before the last day of January of a year.
int32_t lastSaturdayOfJanuary(int year) {
  const int32_t saturday = ufhost::dayNumberFromCivil(2000, 1, 1);  // a Saturday
  int32_t d = ufhost::dayNumberFromCivil(year, 1, 31);
  while ((d - saturday) % 7 != 0) --d;
  return d;
}

TEST(CalendarView, FiftyThreeWeekYearsAreMarked) {
  DataSource source(Backend::SQLite, Schema::V5);
  sitetest::Site site;
  sitetest::Outcome o = site.ufhost({"--calendar", "1", "--books", "1", "--from", "2001", "--to", "2016"});
  ASSERT_EQ(o.code, 0) << o.err;
  std::vector<Row> rows = rowsOf(o.out);
  ASSERT_GE(rows.size(), 16u) << o.out;
  int longYears = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.last);
    // Retail 4-4-5 calendar: each year ends on the last Saturday of January.
    EXPECT_EQ(day(r.last), lastSaturdayOfJanuary(std::atoi(r.last.c_str())));
    EXPECT_TRUE(r.days == 364 || r.days == 371);
    EXPECT_EQ(r.note == "53 weeks", r.days == 371);
    longYears += r.days == 371;
  }
  EXPECT_GE(longYears, 2);  // a 53-week year comes every five or six years
}

TEST(CalendarView, WrongCommandLinesAreRefused) {
  sitetest::Site site;
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"--calendar"}, "--calendar needs a value"},
      {{"--calendar", "x"}, "--calendar needs a company number"},
      {{"--calendar", "1", "ZelTime"}, "--calendar cannot be combined with calls"},
      {{"--books", "1"}, "--books, --from, --to and --html need --calendar"},
      {{"--calendar", "1", "--books", "9"}, "--books takes book numbers 0 to 8"},
      {{"--calendar", "1", "--books", "3-1"}, "--books takes book numbers 0 to 8"},
      {{"--calendar", "1", "--from"}, "--from needs a value"},
      {{"--calendar", "1", "--from", "2010", "--to", "2000"}, "--to is before --from"},
      {{"--calendar", "1", "--from", "1000", "--to", "1500"}, "at most 200 years"},
      {{"--calendar", "1", "--from", "99"}, "--from takes a year from 100 to 9999"},
      {{"--calendar", "1", "--to", "10000"}, "--to takes a year from 100 to 9999"},
      {{"--calendar", "1", "--html"}, "--html needs a value"},
  };
  for (const Case& c : cases) {
    sitetest::Outcome o = site.ufhost(c.args);
    EXPECT_EQ(o.code, 2) << c.err;
    EXPECT_TRUE(contains(o.err, c.err)) << o.err;
    EXPECT_EQ(o.out, "");
  }
}

// A year of 36 years (1990 to 2025) between two December cycles. A first day
// the view shows must be the real one (ZelFYEnd of the day before answers
// another year end), and the first year shown holds 1 January of --from.
TEST(CalendarView, AFirstDayShownIsTheYearsRealFirstDay) {
  DataSource source(Backend::SQLite, Schema::V5);
  const std::string cycle =
      "INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, "
      "PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag) VALUES ";
  source.exec("INSERT INTO Company (CompanyID, BusnStart) VALUES (9, '1950-01-01 00:00:00')");
  source.exec("INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (9, 0, 12, 'T', 91)");
  source.exec("INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (9, 91, 'Long', 0)");
  source.exec(cycle + "(9, 91, 1, '1950-01-01 00:00:00', NULL, 327, 1, 334, 336, 12, 0, 0)");
  source.exec(cycle + "(9, 91, 2, '1990-01-01 00:00:00', '2025-12-31 00:00:00', 332, 1, 334, 336, 12, 0, 0)");
  source.exec(cycle + "(9, 91, 3, '2026-01-01 00:00:00', NULL, 327, 1, 334, 336, 12, 0, 0)");
  sitetest::Site site;
  auto fyEnd = [&](int32_t d) {
    sitetest::Outcome o = site.ufhost({"ZelFYEnd(9, 0, " + ufhost::formatDayNumber(d) + ")"});
    return o.out.substr(0, o.out.find('\n'));
  };
  for (const char* from : {"1995", "2000", "2010", "2020"}) {
    SCOPED_TRACE(from);
    sitetest::Outcome o = site.ufhost({"--calendar", "9", "--books", "0", "--from", from, "--to", "2027"});
    ASSERT_EQ(o.code, 0) << o.err;
    SCOPED_TRACE(o.out);
    const std::vector<Row> rows = rowsOf(o.out);
    ASSERT_FALSE(rows.empty());
    for (const Row& r : rows) {
      EXPECT_EQ(fyEnd(day(r.first)), r.last) << r.first;
      EXPECT_NE(fyEnd(day(r.first) - 1), r.last) << r.first << " is not the first day of its year";
    }
    // The first year shown holds 1 January of --from, or says it began before what was searched.
    const int32_t january = day(std::string(from) + "-01-01");
    EXPECT_TRUE(day(rows.front().first) <= january || contains(o.out, "began earlier"));
    EXPECT_EQ(rows.back().last, "2027-12-31");
  }
}

// A book without a fiscal year says why, on the page and on standard error.
TEST(CalendarView, ABookWithoutYearsSaysWhy) {
  struct Case {
    const char* what;
    Schema schema;
    testenv::Fault fault;
    bool missingFile;
    std::string company, books;
    std::vector<std::string> says;  // in standard output and, for the book without years, standard error
    std::vector<std::string> labels;  // book lines of the table
  } cases[] = {
      {"no data source", Schema::V4, testenv::Fault::Absent, false, "1", "0",
       {"the library showed a \"SQL Error\" box: SQLConnect (openHDBC) [IM002]", "WINZELRW is not defined"},
       {"Book 0\n"}},
      {"database file missing", Schema::V4, testenv::Fault::None, true, "1", "0-1",
       {"gone.db does not exist", "not asked: the database failed for book 0 above"}, {}},
      {"a calendar without cycles", Schema::V5, testenv::Fault::None, false, "1", "5-6",
       {"no cycle in force: calendar \"No cycles\" has no cycles"},
       {"Book 5: calendar \"Custom 2010\" (BookID 4)\n", "Book 6: calendar \"No cycles\" (BookID 5)\n"}},
      {"a company without calendars", Schema::V5, testenv::Fault::None, false, "2", "0",
       {"no calendar: company 2 has no stored calendars"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DataSource source(Backend::SQLite, c.schema, c.fault);
    sitetest::Site site;
    if (c.missingFile) source.setOption("Database", site.dir().file("gone.db"));
    sitetest::Outcome o = site.ufhost({"--calendar", c.company, "--books", c.books, "--from", "2021", "--to", "2022"});
    EXPECT_EQ(o.code, 1);
    for (const std::string& part : c.says) {
      EXPECT_TRUE(contains(o.out, part)) << part << "\n" << o.out;
      EXPECT_TRUE(contains(o.err, part)) << part << "\n" << o.err;
    }
    for (const std::string& label : c.labels) EXPECT_TRUE(contains(o.out, label)) << label << "\n" << o.out;
    EXPECT_TRUE(contains(o.err, "ufhost: company " + c.company + ", book ")) << o.err;
  }
}

TEST(CalendarView, BooksNameTheirCalendarAndThePageItsSource) {
  struct Case {
    Schema schema;
    std::vector<std::string> says;
  } cases[] = {
      {Schema::V4, {"Book 0: built from the book's year end (BookID 0)\n", "schema version 4.1 (calendars built"}},
      {Schema::V5,
       {"Book 0: calendar \"Tax\" (BookID 0)\n", "Book 1: calendar \"Retail 4-4-5\" (BookID 1)\n",
        "Book 8: BookID 7 names no stored calendar: the company's last calendar answers\n",
        "schema version 5.0 (stored calendars)"}},
  };
  for (const Case& c : cases) {
    DataSource source(Backend::SQLite, c.schema);
    sitetest::Site site;
    sitetest::Outcome o = site.ufhost({"--calendar", "1", "--from", "2021", "--to", "2022"});
    SCOPED_TRACE(o.out + o.err);
    for (const std::string& part : c.says) EXPECT_TRUE(contains(o.out, part)) << part;
    EXPECT_TRUE(contains(o.out, "through the data source WINZELRW in " + source.odbcIni() + "; "));
    EXPECT_TRUE(contains(o.out, "\nMade 20")) << "when it was made";
  }
}

// The page is written beside its place and renamed over it: a write that fails
// says why and leaves the page that was there, and no temporary file stays.
TEST(CalendarView, PagesReplaceTheOldOneWholeOrNotAtAll) {
  DataSource source(Backend::SQLite, Schema::V5);
  sitetest::Site site;
  const std::string folder = site.dir().file("taken.html");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string old = site.dir().write("old.html", "the old page");
  struct Case {
    std::string page;
    int code;
    const char* says;   // on standard error; "" when written
    std::string keeps;  // what stays at page afterwards
  } cases[] = {
      {old, 0, "", ""},
      {folder, 4, "cannot write " , ""},
      {site.dir().file("no/such/folder/page.html"), 4, ": No such file or directory", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    sitetest::Outcome o = site.ufhost({"--calendar=1", "--books=0", "--from=2000", "--to", "2002", "--html", c.page});
    EXPECT_EQ(o.code, c.code) << o.err;
    if (*c.says) {
      EXPECT_TRUE(contains(o.err, std::string("cannot write ") + c.page + ": ")) << o.err;
      EXPECT_TRUE(contains(o.err, c.says)) << o.err;
    } else {
      EXPECT_TRUE(contains(testenv::readFile(c.page), "<svg")) << "the old page is replaced";
    }
    struct stat tmp;
    EXPECT_NE(::stat((c.page + ".tmp").c_str(), &tmp), 0) << "a temporary file stays behind";
  }
  struct stat st;
  EXPECT_TRUE(::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << "the folder in the way is left as it was";
}

// Without a library named, --check and --calendar use the one beside ufhost,
// and options read the same in any order and either spelling.
TEST(CalendarView, TheLibraryBesideUfhostAndOptionsInAnyOrder) {
  DataSource source(Backend::SQLite, Schema::V5);
  sitetest::Site site;
  const sitetest::Outcome named = site.ufhost({"--calendar", "1", "--books", "0-1", "--from", "2000", "--to", "2004"});
  ASSERT_EQ(named.code, 0) << named.err;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--calendar", "1", "--books", "0-1", "--from", "2000", "--to", "2004"},
        {"--to=2004", "--from=2000", "--books=0-1", "--calendar=1"}}) {
    const sitetest::Outcome o = site.ufhostBesideIt(args);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, named.out);
  }
  const sitetest::Outcome check = site.ufhost({"--check", "1"});
  const sitetest::Outcome beside = site.ufhostBesideIt({"--check", "1"});
  EXPECT_EQ(beside.code, check.code) << beside.err;
  EXPECT_TRUE(contains(beside.out, "fiscal-year end")) << beside.out;
  EXPECT_EQ(count(beside.out, "\n"), count(check.out, "\n")) << beside.out;
}

// A PNG's pixels as 8-bit RGBA (colour types 2 and 6, 8 bits, not interlaced).
struct Image {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

uint32_t be32(const std::string& s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
         (uint32_t(uint8_t(s[at + 2])) << 8) | uint8_t(s[at + 3]);
}

bool decodePng(const std::string& file, Image& img, std::string& why) {
  if (file.size() < 8 || file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return why = "not a PNG", false;
  std::string idat;
  int colourType = -1;
  for (size_t at = 8; at + 12 <= file.size();) {
    uint32_t len = be32(file, at);
    std::string type = file.substr(at + 4, 4);
    if (at + 12 + len > file.size()) return why = "cut short", false;
    if (type == "IHDR") {
      img.width = be32(file, at + 8);
      img.height = be32(file, at + 12);
      if (file[at + 16] != 8 || file[at + 20] != 0) return why = "not 8-bit or interlaced", false;
      colourType = uint8_t(file[at + 17]);
    } else if (type == "IDAT") {
      idat += file.substr(at + 8, len);
    }
    at += 12 + len;
  }
  const int bpp = colourType == 6 ? 4 : colourType == 2 ? 3 : 0;
  if (!bpp || img.width == 0 || img.width > 10000 || img.height > 20000) return why = "unsupported layout", false;
  const size_t stride = size_t(img.width) * bpp;
  std::vector<uint8_t> raw((stride + 1) * img.height);
  uLongf rawLen = raw.size();
  if (uncompress(raw.data(), &rawLen, reinterpret_cast<const Bytef*>(idat.data()), idat.size()) != Z_OK ||
      rawLen != raw.size())
    return why = "bad image data", false;
  std::vector<uint8_t> prev(stride, 0), cur(stride);
  img.rgba.assign(size_t(img.width) * img.height * 4, 255);
  for (uint32_t y = 0; y < img.height; ++y) {
    const uint8_t* line = &raw[y * (stride + 1)];
    for (size_t i = 0; i < stride; ++i) {
      int a = i >= size_t(bpp) ? cur[i - bpp] : 0, b = prev[i], c = i >= size_t(bpp) ? prev[i - bpp] : 0;
      int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      int pred = 0;
      switch (line[0]) {
        case 0: pred = 0; break;
        case 1: pred = a; break;
        case 2: pred = b; break;
        case 3: pred = (a + b) / 2; break;
        case 4: pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c; break;
        default: return why = "bad filter", false;
      }
      cur[i] = uint8_t(line[1 + i] + pred);
    }
    for (uint32_t x = 0; x < img.width; ++x)
      for (int k = 0; k < bpp; ++k) img.rgba[(size_t(y) * img.width + x) * 4 + k] = cur[x * bpp + k];
    prev.swap(cur);
  }
  return true;
}

size_t pixelsOf(const Image& img, uint32_t rgb) {
  size_t n = 0;
  for (size_t i = 0; i + 3 < img.rgba.size(); i += 4)
    n += img.rgba[i] == (rgb >> 16) && img.rgba[i + 1] == ((rgb >> 8) & 0xFF) && img.rgba[i + 2] == (rgb & 0xFF);
  return n;
}

TEST(CalendarView, PageLoadsInABrowserAndDrawsTheTimeline) {
  DataSource source(Backend::SQLite, Schema::V5);
  sitetest::Site site;
  const std::vector<std::string> args = {"--calendar", "1", "--books", "0-3", "--from", "2000", "--to", "2008"};
  sitetest::Outcome text = site.ufhost(args);
  ASSERT_EQ(text.code, 0) << text.err;
  const size_t years = rowsOf(text.out).size();
  ASSERT_GE(years, 36u) << text.out;

  const std::string page = site.dir().file("calendar.html");
  std::vector<std::string> htmlArgs = args;
  htmlArgs.insert(htmlArgs.end(), {"--html", page});
  sitetest::Outcome o = site.ufhost(htmlArgs);
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "wrote " + page + "\n");
  const std::string html = testenv::readFile(page);
  // Self-contained: nothing is fetched.
  for (const char* outside : {"http:", "https:", "src=", "href=", "@import", "url("})
    EXPECT_FALSE(contains(html, outside)) << outside;

  testenv::TempDir browser;
  const std::string chromium = "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --hide-scrollbars "
                               "--window-size=1000,3000 --enable-logging=stderr --v=0 --user-data-dir=" +
                               sitetest::shellQuote(browser.file("profile")) + " ";
  const std::string url = sitetest::shellQuote("file://" + page);
  sitetest::Outcome dom = sitetest::runCommand(browser, "HOME=" + sitetest::shellQuote(browser.path()) + " " +
                                                            chromium + "--dump-dom " + url);
  ASSERT_EQ(dom.code, 0) << "chromium (installed by scripts/setup.sh) failed:\n" << dom.err;
  EXPECT_FALSE(contains(dom.err, ":CONSOLE(")) << dom.err;
  EXPECT_FALSE(contains(dom.err, "Uncaught")) << dom.err;
  // One timeline per book, one bar per fiscal year, as the browser built them.
  EXPECT_EQ(count(dom.out, "<svg class=\"timeline\""), 4u);
  EXPECT_EQ(count(dom.out, "<rect class=\"fy\""), years);
  EXPECT_EQ(count(dom.out, "<tr class=\"w53\">"), count(text.out, "53 weeks"));

  // Calendar names and the stamp, as the browser shows them.
  for (const char* part : {"Book 0: <span class=\"calendar\">calendar \"Tax\" (BookID 0)</span>",
                           "Book 1: <span class=\"calendar\">calendar \"Retail 4-4-5\" (BookID 1)</span>",
                           "through the data source WINZELRW in ", "schema version 5.0 (stored calendars)"})
    EXPECT_TRUE(contains(dom.out, part)) << part;
  EXPECT_TRUE(contains(dom.out, "<p class=\"stamp\">Made 20")) << "when it was made";

  // The year labels as the browser styles them: their size and their contrast
  // against what lies behind them (WCAG), and the timeline's width in a narrow window.
  const std::string probe =
      "<script>"
      "function lum(c){var v=c.match(/[0-9.]+/g).slice(0,3).map(function(x){x=Number(x)/255;"
      "return x<=0.03928?x/12.92:Math.pow((x+0.055)/1.055,2.4)});return 0.2126*v[0]+0.7152*v[1]+0.0722*v[2];}"
      "function bg(e){for(;e;e=e.parentElement){var c=getComputedStyle(e).backgroundColor;"
      "if(c!=='rgba(0, 0, 0, 0)'&&c!=='transparent')return c;}return 'rgb(255, 255, 255)';}"
      "var size=1e9,ratio=1e9,n=0;"
      "document.querySelectorAll('.years span').forEach(function(s){var st=getComputedStyle(s);n++;"
      "size=Math.min(size,parseFloat(st.fontSize));var a=lum(st.color),b=lum(bg(s));"
      "ratio=Math.min(ratio,(Math.max(a,b)+0.05)/(Math.min(a,b)+0.05));});"
      "var svg=document.querySelector('svg.timeline').getBoundingClientRect().width;"
      "var p=document.createElement('pre');p.id='probe';p.textContent='labels='+n+' size='+size+' contrast='+"
      "ratio.toFixed(2)+' fill='+(Math.abs(svg-document.body.clientWidth)<=1?'yes':'no');document.body.appendChild(p);"
      "</script>";
  std::string probed = html;
  probed.insert(probed.rfind("</body>"), probe);
  const std::string probePage = browser.write("probe.html", probed);
  sitetest::Outcome styles = sitetest::runCommand(
      browser, "HOME=" + sitetest::shellQuote(browser.path()) + " " + chromium + "--window-size=640,3000 --dump-dom " +
                   sitetest::shellQuote("file://" + probePage));
  ASSERT_EQ(styles.code, 0) << styles.err;
  const size_t at = styles.out.find("<pre id=\"probe\">");
  ASSERT_NE(at, std::string::npos) << styles.out;
  int labels = 0;
  double size = 0, contrast = 0;
  char fill[8] = {0};
  ASSERT_EQ(std::sscanf(styles.out.c_str() + at, "<pre id=\"probe\">labels=%d size=%lf contrast=%lf fill=%3s", &labels,
                        &size, &contrast, fill),
            4)
      << styles.out.substr(at, 120);
  EXPECT_EQ(labels, 4 * 9);  // 2000 to 2008 under each of four books
  EXPECT_GE(size, 12.0);
  EXPECT_GE(contrast, 4.5);
  EXPECT_STREQ(fill, "yes") << "the timeline follows the window's width";

  const std::string shot = browser.file("calendar.png");
  sitetest::Outcome pic = sitetest::runCommand(
      browser, "HOME=" + sitetest::shellQuote(browser.path()) + " " + chromium + "--screenshot=" +
                   sitetest::shellQuote(shot) + " " + url);
  ASSERT_EQ(pic.code, 0) << pic.err;
  Image img;
  std::string why;
  ASSERT_TRUE(decodePng(testenv::readFile(shot), img, why)) << why;
  EXPECT_EQ(img.width, 1000u);
  // The bars' colours are on the screen: ordinary years, the short year of
  // book 0 (2005) and the 53-week years.
  for (uint32_t colour : {0x5b9bd8u, 0x2f6db5u, 0xe8912du, 0x7a5cc9u}) EXPECT_GT(pixelsOf(img, colour), 200u) << std::hex << colour;
  EXPECT_EQ(pixelsOf(img, 0x123456), 0u);  // the counter does not find what is not there
}

}  // namespace
