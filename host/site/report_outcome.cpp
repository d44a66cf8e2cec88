#include "report_outcome.h"

#include <ostream>
#include <streambuf>
#include <vector>

#include "companyDatabase.h"
#include "comtypes.h"
#include "site_check.h"
#include "site_check_odbc.h"
#include "site_check_sys.h"
#include "exit_codes.h"
#include "vrzelcal.h"

namespace ufhost {

SetupVerdict judgeSetup(const FiscalTally& tally, const std::string& boxText, const site::SourceSetting& setting,
                        const std::function<site::Diagnosis()>& setupFault) {
  SetupVerdict v;
  const std::vector<SqlErrorBox> boxes = parseSqlErrorBoxes(boxText);
  // The site password file's refusal is a box of its own caption.
  const bool refused = !site::boxTexts(boxText, companyDatabase::kPasswordCaption).empty();
  std::string cause;
  if (refused) {
    cause = "the library refused the site password file (a \"" + std::string(companyDatabase::kPasswordCaption) +
            "\" box)";
  } else if (!boxes.empty()) {
    cause = site::diagnoseBoxes(boxes, setting, site::Layout()).cause;
  } else if (tally.noDate > 0 && setupFault) {
    cause = setupFault().cause;
  }
  if (cause.empty()) return v;
  v.failed = true;
  v.summary = "ufhost: " + std::to_string(tally.noDate) + " of " + std::to_string(tally.calls) +
              " fiscal-year calls gave no date";
  if (!boxes.empty())
    v.summary += ", the library showed " + std::to_string(boxes.size()) + " \"" + companyDatabase::kErrorCaption +
                 "\" box" + (boxes.size() > 1 ? "es" : "");
  v.summary += "; first cause: " + cause + " (ufhost LIBRARY --check says what to do)";
  return v;
}

site::Diagnosis findSetupFault() {
  const site::Layout layout = site::currentLayout();
  for (const CLSID* clsid : {&CLSID_VRZELCalendarFactory, &CLSID_ktEnumDispatch}) {
    site::ClassRegistration reg;
    std::string searched;
    if (site::findClassRegistration(*clsid, reg, searched) != S_OK) return site::engineNotRegistered(searched, layout);
    if (!sys::fileExists(reg.server)) return site::engineFileMissing(reg.server, layout);
  }
  IUnknown* factory = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_VRZELCalendarFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IVRZELCalendarFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr) || !factory)
    return {"the calendar engine is registered but cannot be loaded", site::engineFileMissing(layout.engineFile, layout).advice};
  factory->Release();
  const site::DataSourceFacts f = site::findDataSource(companyDatabase::kDataSource);
  if (!f.problem.empty()) return {f.problem, "reinstall the ODBC driver manager"};
  if (!f.defined) return site::dataSourceUndefined(layout);
  const bool byName = f.driverEntry != f.driverFile || f.driverFile.empty();
  if (byName && !f.driverRegistered) return site::driverNotRegistered(f.driverEntry, layout);
  if (site::locateDriver(f.driverFile).empty()) return site::driverFileMissing(f.driverEntry, f.driverFile, layout);
  // Where boxes are windows (Windows) a refused connection shows nowhere else.
  const site::SchemaFacts probe = site::readSchema(companyDatabase::kDataSource, companyDatabase::kUser);
  if (!probe.connected && !site::isLoginRefusal(probe.refusalState, probe.refusalMessage))
    return site::sourceRefused(probe.refusalState, probe.refusalMessage, sourceSetting(f), layout);
  return {};
}

namespace {
// Standard output while the watch is on: gathered, and written only after the
// tee has passed on what standard error holds by then.
class WatchedOutput : public std::streambuf {
 public:
  WatchedOutput(std::ostream& out, site::BoxTee& tee) : out_(out), real_(out.rdbuf()), tee_(tee) {
    setp(buffer_, buffer_ + sizeof buffer_);
    out_.rdbuf(this);
  }
  ~WatchedOutput() { restore(); }
  // Writes what is gathered and hands out back its own buffer, its state kept.
  void restore() {
    if (!real_) return;
    if (sync() != 0) out_.setstate(std::ios::badbit);
    const std::ios::iostate state = out_.rdstate();
    out_.rdbuf(real_);
    out_.setstate(state);
    real_ = nullptr;
  }

 protected:
  int overflow(int c) override {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  // A block that does not fit goes out as it is, after what is gathered.
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (n < epptr() - pptr()) return std::streambuf::xsputn(s, n);
    return sync() == 0 && real_->sputn(s, n) == n && real_->pubsync() == 0 ? n : 0;
  }
  int sync() override {
    tee_.sync();
    const std::streamsize n = pptr() - pbase();
    setp(buffer_, buffer_ + sizeof buffer_);
    return real_->sputn(buffer_, n) == n && real_->pubsync() == 0 ? 0 : -1;
  }

 private:
  std::ostream& out_;
  std::streambuf* real_;
  site::BoxTee& tee_;
  char buffer_[8192];  // what the C library's stream would gather
};
}  // namespace

struct SetupWatch::State {
  explicit State(std::ostream& out) : output(out, tee) {}
  site::BoxTee tee;
  WatchedOutput output;
};

SetupWatch::SetupWatch(std::ostream& out) : s_(new State(out)) {}
SetupWatch::~SetupWatch() { delete s_; }

int SetupWatch::finish(const FiscalTally& tally, std::ostream& err) {
  s_->output.restore();
  const std::string text = s_->tee.finish();
  site::SourceSetting setting;
  if (text.find(companyDatabase::kErrorCaption) != std::string::npos) {
    const site::DataSourceFacts f = site::findDataSource(companyDatabase::kDataSource);
    if (f.defined) setting = sourceSetting(f);
  }
  const SetupVerdict v = judgeSetup(tally, text, setting, findSetupFault);
  // Messages that passed through the watch and did not reach their file.
  const int lost = s_->tee.lostOutput() ? kExitInternal : kExitOk;
  if (!v.failed) return lost;
  err << v.summary << "\n";
  return kExitSetupFailure;
}

}  // namespace ufhost
