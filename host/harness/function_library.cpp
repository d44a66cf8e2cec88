#include "function_library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "comtypes.h"
#include "host_sys.h"

namespace ufhost {
namespace {

// Guard zones around every buffer the library may write. Only the 64 bytes
// next to each side are compared after a call, one compare a side: a write
// that runs off either end crosses them first. Beyond them lies a landing
// zone, scanned only when a near guard was hit, so that a runaway write is
// measured rather than landing in the harness's own memory. The back landing
// zone covers the largest size a return-size function can ask for (a signed
// 16-bit count).
constexpr size_t kNearGuard = 64;
constexpr size_t kFrontZone = 256;
constexpr size_t kBackZone = 32768;
// A result buffer starts filled with this, so a result without its NUL shows.
constexpr unsigned char kFill = 0xCD;
// No table is longer than this; past it the end row is taken as missing.
constexpr int kMaxRows = 1000;

// Never 0 and never ASCII, so no NUL, blank or digit written over a guard byte
// can leave it as it was. It repeats every 128 positions.
unsigned char guardByte(size_t i) { return static_cast<unsigned char>(0x80 | ((i * 37 + 11) & 0x7F)); }

// Two periods of the pattern, so any stretch of up to 128 bytes is one memcpy or memcmp away.
struct GuardPattern {
  unsigned char bytes[256];
  GuardPattern() {
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = guardByte(i);
  }
  const unsigned char* at(size_t position) const { return bytes + (position & 0x7F); }
};
const GuardPattern kPattern;

// Whether a near guard still holds its pattern: checked on every call with a buffer.
bool nearGuardHolds(const unsigned char* zone, const unsigned char* pattern) {
  return std::memcmp(zone, pattern, kNearGuard) == 0;
}

// One buffer slot, kept between calls: allocated when a call first needs more
// room than it has, re-armed cheaply for every call.
class GuardedBuffer {
 public:
  // Room for size bytes, filled with kFill, or with the size - 1 bytes of text
  // and a NUL when text is given. The data pointer is valid until the next arm().
  char* arm(size_t size, const char* text = nullptr) {
    // A shorter buffer than the last leaves the last one's bytes in the new
    // back guard, which is copied afresh below, unless they reach past it.
    if (size > capacity_ || dirty_ || size + kNearGuard < size_) prepare(size);
    size_ = size;
    const size_t back = kFrontZone + size;
    std::memcpy(&raw_[back], kPattern.at(back), kNearGuard);
    if (text) {
      std::memcpy(data(), text, size - 1);
      data()[size - 1] = '\0';
    } else {
      std::memset(data(), kFill, size);
    }
    return data();
  }
  char* data() { return reinterpret_cast<char*>(raw_.data() + kFrontZone); }
  const unsigned char* body() const { return raw_.data() + kFrontZone; }
  size_t size() const { return size_; }
  bool frontHolds() const {
    const size_t guardStart = kFrontZone - kNearGuard;
    return nearGuardHolds(raw_.data() + guardStart, kPattern.at(guardStart));
  }
  bool backHolds() const {
    const size_t back = kFrontZone + size_;
    return nearGuardHolds(raw_.data() + back, kPattern.at(back));
  }
  // Both near guards as armed; when not, the buffer is armed afresh next time.
  bool intact() {
    if (frontHolds() && backHolds()) return true;
    dirty_ = true;
    return false;
  }
  // How many bytes past the end were written to, counting to the farthest one; 0 when none.
  size_t overrun() const {
    if (backHolds()) return 0;
    const size_t back = kFrontZone + size_;
    for (size_t i = raw_.size(); i > back; --i)
      if (raw_[i - 1] != guardByte(i - 1)) return i - back;
    return 0;
  }
  // Room for size, every zone armed: on the first call, after a call that
  // broke a guard, or when this call's buffer is shorter than the last one's.
  void prepare(size_t size) {
    if (size > capacity_ || raw_.empty()) {
      capacity_ = std::max(size, capacity_ * 2);
      if (capacity_ < 64) capacity_ = 64;
      raw_.assign(kFrontZone + capacity_ + kBackZone, 0);
      dirty_ = true;
    }
    if (dirty_) {
      for (size_t i = 0; i < raw_.size(); ++i) raw_[i] = guardByte(i);
      dirty_ = false;
    } else if (size < size_) {
      // The last call's body beyond this one's near guard becomes landing zone again.
      const size_t from = kFrontZone + size + kNearGuard, to = kFrontZone + size_ + kNearGuard;
      for (size_t i = from; i < to; i += 128) std::memcpy(&raw_[i], kPattern.at(i), std::min<size_t>(128, to - i));
    }
  }
  // The text of arm(size, text) still in place, its NUL included.
  bool bodyEquals(const char* text) const { return std::memcmp(body(), text, size_ - 1) == 0 && body()[size_ - 1] == 0; }
  // Length of the text before the first NUL, or size() when there is none.
  size_t textLength() const {
    const void* nul = std::memchr(body(), 0, size_);
    return nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - body()) : size_;
  }

 private:
  std::vector<unsigned char> raw_;
  size_t capacity_ = 0;
  size_t size_ = 0;
  bool dirty_ = true;  // guard or landing zones may have been written to
};

// The engine's length of a value of the type; 0 for a text, whose length is its own.
int16_t valueLength(ValueType t) {
  static const int16_t kLengths[] = {sizeof(UFTNumber), sizeof(UFTBoolean), sizeof(CRDate),  // in ValueType's order
                                     sizeof(CRTime), sizeof(CRDateTime), 0};
  return kLengths[static_cast<int>(t)];
}

// The value's type code and length, and the value into u (not for texts).
void setValue(UFParamUnion& u, UFTypeDefs& type, int16_t& length, const Value& v) {
  length = valueLength(v.type);
  switch (v.type) {
    case ValueType::Number:
      type = UFNumber;
      u.ParamNumber = v.number * 100.0;  // the engine's hundredfold
      break;
    case ValueType::Boolean:
      type = UFBoolean;
      u.ParamBoolean = v.boolean ? 1 : 0;
      break;
    case ValueType::Date:
      type = UFDate;
      u.ParamDate = v.date;
      break;
    case ValueType::Time:
      type = UFTime;
      u.ParamTime = v.time;
      break;
    case ValueType::DateTime:
      type = UFDateTime;
      u.ParamDateTime.date = v.date;
      u.ParamDateTime.time = v.time;
      break;
    case ValueType::String:
      type = UFStringArg;  // its length and pointer are set by the caller
      break;
  }
}

}  // namespace

// The argument list as the engine hands it over, its return-size twin and the
// result buffer: kept from call to call so that a call allocates nothing.
// The list is first written into proto (and protoMemCalc), then copied whole
// into what the library sees, so that a library that writes into its
// arguments leaves nothing behind for the next call.
struct CallScratch {
  std::vector<UFParamListElement> proto, elements;
  std::vector<UFMemCalcParam> protoMemCalc, memCalc;
  std::vector<GuardedBuffer> texts;  // one per argument position; used by string arguments
  std::vector<const char*> text;     // each string argument's text as the caller holds it, else null
  std::vector<size_t> textLength;    // up to its first NUL
  std::vector<size_t> textArgs;      // the string arguments' positions, found when the list is built
  GuardedBuffer result;
  size_t count = 0;
  bool withMemCalc = false;  // the return-size twin is made only when a string result is sized

  // The list of fn's arguments as the caller gives them, every member written so
  // that nothing of the last call shows through.
  void build(const FunctionInfo& fn, const std::vector<Value>& args) {
    const size_t n = args.size();
    count = n;
    withMemCalc = fn.signature.returnType == ValueType::String && fn.returnSize != nullptr;
    if (proto.size() < n) {
      proto.resize(n);
      elements.resize(n);
      protoMemCalc.resize(n);
      memCalc.resize(n);
      texts.resize(n);
      text.resize(n);
      textLength.resize(n);
    }
    for (size_t i = 0; i < n; ++i) {
      UFParamListElement& e = proto[i];
      std::memset(&e, 0, sizeof e);
      e.StructSize = sizeof(UFParamListElement);
      e.NextParam = i + 1 < n ? elements.data() + i + 1 : nullptr;
      UFMemCalcParam& m = protoMemCalc[i];
      std::memset(&m, 0, sizeof m);
      m.StructSize = sizeof(UFMemCalcParam);
      m.NextMemCalcParam = i + 1 < n ? memCalc.data() + i + 1 : nullptr;
      m.MemCalcLiteralFlag = UFLiteral;  // every argument the harness passes is a literal
      set(i, args[i]);
    }
    textArgs.clear();
    for (size_t i = 0; i < n; ++i)
      if (text[i]) textArgs.push_back(i);
  }
  // Argument i's type, length and value, in the list and its return-size twin;
  // after build, only of the type it was built with.
  void set(size_t i, const Value& v) {
    std::memset(&proto[i].Parameter, 0, sizeof proto[i].Parameter);
    std::memset(&protoMemCalc[i].MemCalcParameter, 0, sizeof protoMemCalc[i].MemCalcParameter);
    text[i] = nullptr;
    putValue(i, v);
    if (v.type == ValueType::String) setText(i, v.text);
  }
  // Argument i's value, of the type it was built with: it covers what the
  // last one of that type wrote, so the union needs no clearing.
  void putValue(size_t i, const Value& v) {
    UFParamListElement& e = proto[i];
    setValue(e.Parameter, e.ParamType, e.ParamLength, v);
    if (withMemCalc) {
      UFMemCalcParam& m = protoMemCalc[i];
      setValue(m.MemCalcParameter, m.MemCalcParamType, m.MemCalcParamLength, v);
    }
  }
  // A text travels up to its first NUL, as a C string would; it must stay
  // where it is until the call has returned.
  void setText(size_t i, std::string_view t) {
    const char* const s = t.empty() ? "" : t.data();  // never null: null marks an argument that is not a text
    const void* const nul = std::memchr(s, 0, t.size());
    const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - s) : t.size();
    text[i] = s;
    textLength[i] = n;
    proto[i].ParamLength = static_cast<int16_t>(std::min<size_t>(n + 1, 32767));
    protoMemCalc[i].MemCalcParamLength = proto[i].ParamLength;
  }
  // What the library sees for this call: the list as built, each text in a
  // freshly armed buffer of its own.
  void arm() {
    if (!count) return;
    std::memcpy(static_cast<void*>(elements.data()), proto.data(), count * sizeof(UFParamListElement));
    if (withMemCalc)
      std::memcpy(static_cast<void*>(memCalc.data()), protoMemCalc.data(), count * sizeof(UFMemCalcParam));
    for (size_t i : textArgs) {
      char* const armed = texts[i].arm(textLength[i] + 1, text[i]);
      elements[i].Parameter.ParamString = armed;
      if (withMemCalc) memCalc[i].MemCalcParameter.ParamString = armed;
    }
  }
  UFParamListElement* first() { return count ? &elements[0] : nullptr; }
  UFMemCalcParam* firstMemCalc() { return count && withMemCalc ? &memCalc[0] : nullptr; }

  // 0 when every argument text is as it was, else the first argument written to.
  int modifiedArgument() {
    int first = 0;
    for (size_t i : textArgs) {
      GuardedBuffer& t = texts[i];
      // Every buffer is checked, so that each disturbed one is re-armed before the next call.
      if ((!t.intact() || !t.bodyEquals(text[i])) && !first) first = static_cast<int>(i + 1);
    }
    return first;
  }
};

namespace {

// A valid address for the engine's error callback; this library's interface
// never calls it, and a library that does finds nothing to crash on.
void UF_CALL engineErrorHandler(UFError) {}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Letters to add, drop or change to turn a into b, ignoring case.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const size_t change = diagonal + (lowerAscii(a[i - 1]) == lowerAscii(b[j - 1]) ? 0 : 1);
      row[j] = std::min({change, above + 1, row[j - 1] + 1});
      diagonal = above;
    }
  }
  return row[b.size()];
}

CallResult refused(const std::string& why) {
  CallResult r;
  r.status = CallStatus::NotCallable;
  r.message = why;
  return r;
}

std::string notUnderstood(const FunctionInfo& fn) {
  return "its definition text \"" + fn.definition + "\" is not understood: " + fn.parseError;
}

std::string codeText(int32_t code) { return std::string(errorName(code)) + " (" + std::to_string(code) + ")"; }

template <class F>
F entryPoint(void* handle, const char* name) {
  return reinterpret_cast<F>(sys::findSymbol(handle, name));
}

// A table that follows the function table's order (templates, examples):
// its texts into the functions; a shorter table leaves the rest empty.
template <class Row>
void copyTexts(const Row* rows, const char* Row::*text, std::vector<FunctionInfo>& fns, std::string FunctionInfo::*into) {
  for (size_t i = 0; rows && i < fns.size() && rows[i].*text; ++i) fns[i].*into = rows[i].*text;
}

// Each argument that has a parameter in its position must be of that
// parameter's type; fewer or more are allowed. The reason in error when not.
bool checkArgumentTypes(const FunctionInfo& fn, const std::vector<Value>& args, std::string& error) {
  if (!fn.understood) {
    error = notUnderstood(fn);
    return false;
  }
  const std::vector<ValueType>& params = fn.signature.params;
  for (size_t i = 0; i < params.size() && i < args.size(); ++i) {
    if (args[i].type != params[i]) {
      error = argumentTypeProblem(fn, i, args[i].type);
      return false;
    }
  }
  return true;
}

// The same, and as many arguments as parameters.
bool checkArguments(const FunctionInfo& fn, const std::vector<Value>& args, std::string& error) {
  const std::vector<ValueType>& params = fn.signature.params;
  if (fn.understood && args.size() != params.size()) {
    error = argumentCountProblem(fn, args.size());
    return false;
  }
  return checkArgumentTypes(fn, args, error);
}

}  // namespace

std::string argumentCountProblem(const FunctionInfo& fn, size_t given) {
  const size_t n = fn.signature.params.size();
  return fn.signature.name + " takes " + std::to_string(n) + (n == 1 ? " argument (" : " arguments (") +
         describeSignature(fn.signature) + "), " + std::to_string(given) + " given";
}

std::string argumentTypeProblem(const FunctionInfo& fn, size_t i, ValueType given) {
  return "argument " + std::to_string(i + 1) + " of " + fn.signature.name + " must be a " +
         typeName(fn.signature.params[i]) + ", not a " + typeName(given);
}

bool isGuardViolation(CallStatus status) {
  return status == CallStatus::BufferOverrun || status == CallStatus::BufferUnderrun ||
         status == CallStatus::NotTerminated || status == CallStatus::ReturnPointerChanged ||
         status == CallStatus::ArgumentModified;
}

const char* errorName(int32_t code) {
  static const struct {
    int32_t code;
    const char* name;
  } kNames[] = {{UFUserError, "UFUserError"},
                {UFNoError, "UFNoError"},
                {UFNoMemory, "UFNoMemory"},
                {UFStringTooBig, "UFStringTooBig"},
                {UFDivideByZero, "UFDivideByZero"},
                {UFArrayIndexTooBig, "UFArrayIndexTooBig"},
                {UFStringIndexTooBig, "UFStringIndexTooBig"},
                {UFNotEnoughParameters, "UFNotEnoughParameters"},
                {UFMemCalcFail, "UFMemCalcFail"}};
  for (const auto& n : kNames)
    if (n.code == code) return n.name;
  return "unknown error";
}

FunctionLibrary::FunctionLibrary() = default;
FunctionLibrary::~FunctionLibrary() { unload(); }

bool FunctionLibrary::load(const std::string& path, std::string& error) {
  unload();
  // The library expects its host to have initialised COM on the calling thread.
  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "COM could not be initialised (HRESULT 0x%08lX)",
                  static_cast<unsigned long>(static_cast<uint32_t>(hr)));
    error = buf;
    return false;
  }
  comInitialised_ = true;
  path_ = path;

  std::string why;
  handle_ = sys::openLibrary(path, why);
  if (!handle_) {
    error = "cannot load " + path + ": " + why;
    unload();
    return false;
  }

  initialize_ = entryPoint<decltype(initialize_)>(handle_, "UFInitialize");
  terminate_ = entryPoint<decltype(terminate_)>(handle_, "UFTerminate");
  auto getDefs = entryPoint<UFFunctionDefStringList*(UF_CALL*)()>(handle_, "UFGetFunctionDefStrings");
  std::string missing;
  if (!initialize_) missing += ", UFInitialize";
  if (!terminate_) missing += ", UFTerminate";
  if (!getDefs) missing += ", UFGetFunctionDefStrings";
  if (!missing.empty()) {
    error = path + " is not a function library: it has no " + missing.substr(2);
    initialize_ = nullptr;
    terminate_ = nullptr;
    unload();
    return false;
  }
  startJob_ = entryPoint<decltype(startJob_)>(handle_, "UFStartJob");
  endJob_ = entryPoint<decltype(endJob_)>(handle_, "UFEndJob");
  errorRecovery_ = entryPoint<decltype(errorRecovery_)>(handle_, "UFErrorRecovery");

  UFError rc = initialize_();
  if (rc != UFNoError) {
    error = "UFInitialize of " + path + " answered " + codeText(rc);
    terminate_ = nullptr;  // a failed start-up is not counted: nothing to terminate
    unload();
    return false;
  }
  if (auto getVersion = entryPoint<uint16_t(UF_CALL*)()>(handle_, "UFGetVersion")) version_ = getVersion();
  if (!readTables(error)) {
    error = path + ": " + error;
    unload();
    return false;
  }
  return true;
}

bool FunctionLibrary::readTables(std::string& error) {
  auto getDefs = entryPoint<UFFunctionDefStringList*(UF_CALL*)()>(handle_, "UFGetFunctionDefStrings");
  auto getTemplates = entryPoint<UFFunctionTemplateList*(UF_CALL*)()>(handle_, "UFGetFunctionTemplates");
  auto getExamples = entryPoint<UFFunctionExampleList*(UF_CALL*)()>(handle_, "UFGetFunctionExamples");

  UFFunctionDefStringList* defs = getDefs();
  if (!defs || !defs->UFFunctionDefStrPtr) {
    error = "UFGetFunctionDefStrings gave no table";
    return false;
  }
  functions_.clear();
  for (int i = 0;; ++i) {
    if (i == kMaxRows) {
      error = "the function table has no end row within " + std::to_string(kMaxRows) + " rows";
      functions_.clear();
      return false;
    }
    const UFFunctionDefStrings& row = defs->UFFunctionDefStrPtr[i];
    if (!row.FuncDefString) break;
    FunctionInfo fn;
    fn.index = i;
    fn.definition = row.FuncDefString;
    fn.entry = row.UFEntry;
    fn.returnSize = row.UFMemCalcFunc;
    fn.understood = parseDefinition(fn.definition, fn.signature, fn.parseError);
    if (fn.understood && !fn.entry) {
      fn.understood = false;
      fn.parseError = "the table gives no function to call";
    }
    functions_.push_back(std::move(fn));
  }
  UFFunctionTemplateList* templates = getTemplates ? getTemplates() : nullptr;
  copyTexts(templates ? templates->UFFuncTemplatePtr : nullptr, &UFFunctionTemplates::FuncTemplate, functions_,
            &FunctionInfo::templateText);
  UFFunctionExampleList* examples = getExamples ? getExamples() : nullptr;
  copyTexts(examples ? examples->FuncExample : nullptr, &UFFunctionExamples::FuncExample, functions_,
            &FunctionInfo::example);
  return true;
}

void FunctionLibrary::unload() {
  if (handle_) {
    endJob();
    if (terminate_) terminate_();
    sys::closeLibrary(handle_);
    handle_ = nullptr;
  }
  functions_.clear();
  initialize_ = nullptr;
  terminate_ = nullptr;
  startJob_ = nullptr;
  endJob_ = nullptr;
  errorRecovery_ = nullptr;
  version_ = 0;
  inJob_ = false;
  if (comInitialised_) {
    CoUninitialize();
    comInitialised_ = false;
  }
}

const FunctionInfo* FunctionLibrary::find(const std::string& name) const {
  for (const FunctionInfo& fn : functions_)
    if (fn.understood && equalsNoCase(fn.signature.name, name)) return &fn;
  return nullptr;
}

const FunctionInfo* FunctionLibrary::nearest(const std::string& name) const {
  // No formula name is this long: a slip of the keyboard it is not.
  if (name.size() > 100) return nullptr;
  const FunctionInfo* best = nullptr;
  size_t bestDistance = 0;
  for (const FunctionInfo& fn : functions_) {
    if (!fn.understood) continue;
    const size_t d = editDistance(name, fn.signature.name);
    if (!best || d < bestDistance) {
      best = &fn;
      bestDistance = d;
    }
  }
  // Close means a slip of the keyboard: one change in a short name, a third of a long one.
  const size_t allowed = std::max<size_t>(1, name.size() / 3);
  return best && bestDistance > 0 && bestDistance <= allowed ? best : nullptr;
}

std::string unknownFunction(const FunctionLibrary& library, const std::string& name) {
  std::string text = "unknown function " + excerpt(name);
  if (const FunctionInfo* close = library.nearest(name)) text += "; did you mean " + close->signature.name + "?";
  return text;
}

void* FunctionLibrary::symbol(const char* name) const { return sys::findSymbol(handle_, name); }

void FunctionLibrary::startJob() {
  if (!handle_) return;
  endJob();
  ++jobId_;
  if (jobId_ == 0) jobId_ = 1;
  if (startJob_) startJob_(jobId_);
  inJob_ = true;
}

void FunctionLibrary::endJob() {
  if (!inJob_) return;
  inJob_ = false;
  if (endJob_) endJob_(jobId_);
}

CallResult FunctionLibrary::evaluateAnyCount(const FunctionInfo& fn, const std::vector<Value>& args) {
  std::string why;
  return checkArgumentTypes(fn, args, why) ? callUnchecked(fn, args) : refused(why);
}

CallResult FunctionLibrary::evaluate(const FunctionInfo& fn, const std::vector<Value>& args) {
  std::string why;
  return checkArguments(fn, args, why) ? callUnchecked(fn, args) : refused(why);
}

CallResult FunctionLibrary::callUnchecked(const FunctionInfo& fn, const std::vector<Value>& args) {
  CallResult r;
  if (!scratch_) scratch_.reset(new CallScratch);
  if (!callable(fn, r)) return r;
  scratch_->build(fn, args);
  invoke(fn, *scratch_, r);
  return r;
}

CallSite::CallSite() = default;
CallSite::~CallSite() = default;
CallSite::CallSite(CallSite&&) noexcept = default;
CallSite& CallSite::operator=(CallSite&&) noexcept = default;

void CallSite::bind(const FunctionInfo& fn, const std::vector<Value>& args) {
  fn_ = &fn;
  if (!scratch_) scratch_.reset(new CallScratch);
  scratch_->build(fn, args);
}

void CallSite::setArgument(size_t i, const Value& v) {
  // The list's texts are found when it is built: a text goes only where one was.
  if (v.type == ValueType::String) return setText(i, v.text);
  if (scratch_ && i < scratch_->count && !scratch_->text[i]) scratch_->putValue(i, v);
}

void CallSite::setText(size_t i, std::string_view text) {
  if (scratch_ && i < scratch_->count && scratch_->text[i]) scratch_->setText(i, text);
}

void FunctionLibrary::call(CallSite& site, CallResult& r) {
  if (!site.fn_) {
    resetResult(r);
    r.status = CallStatus::NotCallable;
    r.message = "no function is bound";
    return;
  }
  if (callable(*site.fn_, r)) invoke(*site.fn_, *site.scratch_, r);
}

namespace {
// A call's parameter block as far as it is known before the call: all but the
// job and, for a string result, the buffer.
void layOutBlock(const FunctionInfo& fn, CallScratch& chain, UFParamBlock& b) {
  std::memset(&b, 0, sizeof b);
  b.StructSize = sizeof(UFParamBlock);
  b.FunctionNumber = static_cast<int16_t>(fn.index);
  b.UFErrorHandler = engineErrorHandler;
  b.UFParamList = chain.first();
  if (fn.signature.returnType != ValueType::String) b.ReturnValueLength = valueLength(fn.signature.returnType);
}
}  // namespace

bool FunctionLibrary::callable(const FunctionInfo& fn, CallResult& r) const {
  resetResult(r);
  if (!handle_) {
    r.status = CallStatus::NotCallable;
    r.message = "no library is loaded";
    return false;
  }
  if (!fn.understood) {
    r.status = CallStatus::NotCallable;
    r.message = notUnderstood(fn);
    return false;
  }
  return true;
}

void FunctionLibrary::resetResult(CallResult& r) {
  // Everything set afresh; the strings keep their room from the last call.
  r.status = CallStatus::Ok;
  r.errorCode = UFNoError;
  r.value.type = ValueType::Number;
  r.value.number = 0.0;
  r.value.boolean = false;
  r.value.date = -1;
  r.value.time = 0;
  r.value.text.clear();
  r.bufferSize = 0;
  r.defaultSize = false;
  r.message.clear();
}

namespace {

std::string bufferWhat(int size, bool defaultSize) {
  return std::to_string(size) + "-byte result buffer" + (defaultSize ? " (the engine's default size)" : "");
}

void sizeRefused(const std::string& name, UFError rc, int16_t asked, CallResult& r) {
  r.status = CallStatus::FunctionError;
  r.errorCode = UFMemCalcFail;
  r.message = rc != UFNoError ? "the return-size function of " + name + " answered " + codeText(rc)
                              : "the return-size function of " + name + " asked for " + std::to_string(asked) +
                                    " bytes";
}

void bufferBroken(const std::string& name, bool frontIntact, size_t beyond, int size, CallResult& r) {
  if (!frontIntact) {
    r.status = CallStatus::BufferUnderrun;
    r.message = name + " wrote before the start of its " + bufferWhat(size, r.defaultSize);
  } else {
    r.status = CallStatus::BufferOverrun;
    r.message = name + " wrote " + std::to_string(beyond) + " byte" + (beyond == 1 ? "" : "s") +
                " past the end of its " + bufferWhat(size, r.defaultSize);
  }
}

void pointerReplaced(const std::string& name, CallResult& r) {
  r.status = CallStatus::ReturnPointerChanged;
  r.message = name + " replaced the ReturnString pointer instead of writing into the buffer";
}

void notTerminated(const std::string& name, int size, CallResult& r) {
  r.status = CallStatus::NotTerminated;
  r.message = name + " left its string result without a terminating NUL inside its " + bufferWhat(size, r.defaultSize);
}

void argumentModified(const std::string& name, int arg, CallResult& r) {
  r.status = CallStatus::ArgumentModified;
  r.errorCode = UFNoError;
  r.message = name + " wrote into the text of its argument " + std::to_string(arg);
}

// Argument texts belong to the engine: a write into one (arg, from 1)
// outweighs any answer. A failed call leaves no value behind.
void argumentsOutcome(const std::string& name, int arg, CallResult& r) {
  if (arg && !isGuardViolation(r.status)) argumentModified(name, arg, r);
  if (!r.ok()) r.value = Value();
}

}  // namespace

void FunctionLibrary::functionError(const FunctionInfo& fn, UFParamBlock& block, UFError rc, CallResult& r) {
  r.status = CallStatus::FunctionError;
  r.errorCode = rc;
  r.message = fn.signature.name + " answered " + codeText(rc);
  if (rc == UFUserError && errorRecovery_) {
    const char* text = errorRecovery_(&block, rc);
    if (text) r.message += ": " + std::string(text);
  }
}

// The size of a string result's buffer: what the library's return-size
// function asks for, else the engine's default. False, with r saying why, when
// the return-size function refused.
bool FunctionLibrary::resultSize(const FunctionInfo& fn, CallScratch& chain, int& size, CallResult& r) {
  size = kDefaultStringSize;
  if (!fn.returnSize) return true;
  UFMemCalcBlock sizing;
  std::memset(&sizing, 0, sizeof sizing);
  sizing.StructSize = sizeof(UFMemCalcBlock);
  sizing.MemCalcCommand = UFCalcStringLength;
  sizing.UFMemCalcParamList = chain.firstMemCalc();
  sizing.UFParamList = chain.first();
  const UFError rc = fn.returnSize(&sizing);
  size = sizing.UFMemCalcStringLength;
  if (rc == UFNoError && size >= 1) return true;
  sizeRefused(fn.signature.name, rc, sizing.UFMemCalcStringLength, r);
  size = 0;
  return false;
}

// What a call that returns a value (not a text) answered, into r.
void FunctionLibrary::valueOutcome(const FunctionInfo& fn, UFParamBlock& block, UFError rc, CallResult& r) {
  if (rc != UFNoError) return functionError(fn, block, rc, r);
  const UFReturnUnion& v = block.ReturnValue;
  switch (fn.signature.returnType) {
    case ValueType::Number:
      r.value.type = ValueType::Number;
      r.value.number = v.ReturnNumber / 100.0;
      break;
    case ValueType::Boolean:
      r.value.type = ValueType::Boolean;
      r.value.boolean = v.ReturnBoolean != 0;
      break;
    case ValueType::Date:
      r.value.type = ValueType::Date;
      r.value.date = v.ReturnDate;
      break;
    case ValueType::Time:
      r.value.type = ValueType::Time;
      r.value.time = v.ReturnTime;
      break;
    case ValueType::DateTime:
      r.value.type = ValueType::DateTime;
      r.value.date = v.ReturnDateTime.date;
      r.value.time = v.ReturnDateTime.time;
      break;
    case ValueType::String:
      break;
  }
}

// What a call into the string buffer of size bytes answered, into r: the
// guards checked, the text copied.
void FunctionLibrary::textOutcome(const FunctionInfo& fn, CallScratch& chain, UFParamBlock& block, UFError rc,
                                  const char* buffer, int size, CallResult& r) {
  GuardedBuffer& result = chain.result;
  if (!result.intact()) {
    bufferBroken(fn.signature.name, result.frontHolds(), result.overrun(), size, r);
  } else if (rc != UFUserError &&  // its number overlays the pointer
             block.ReturnValue.ReturnString != buffer) {
    pointerReplaced(fn.signature.name, r);
  } else if (rc != UFNoError) {
    functionError(fn, block, rc, r);
  } else {
    const size_t len = result.textLength();
    if (len >= result.size()) {
      notTerminated(fn.signature.name, size, r);
    } else {
      r.value.type = ValueType::String;
      r.value.text.append(buffer, len);  // emptied by resetResult
    }
  }
}

void FunctionLibrary::invoke(const FunctionInfo& fn, CallScratch& chain, CallResult& r) {
  chain.arm();

  const bool ownJob = !inJob_;
  if (ownJob) startJob();

  UFParamBlock block;
  layOutBlock(fn, chain, block);
  block.JobId = jobId_;

  if (fn.signature.returnType != ValueType::String) {
    // No buffer to guard: the value comes back in the block itself.
    valueOutcome(fn, block, fn.entry(&block), r);
  } else {
    int size = 0;
    if (!fn.returnSize) r.defaultSize = true;
    const bool sized = resultSize(fn, chain, size, r);
    r.bufferSize = size;
    if (sized) {
      char* const buffer = chain.result.arm(static_cast<size_t>(size));
      block.ReturnValue.ReturnString = buffer;
      block.ReturnValueLength = static_cast<int16_t>(size);
      const UFError rc = fn.entry(&block);
      textOutcome(fn, chain, block, rc, buffer, size, r);
    }
  }
  // Every argument buffer is checked even when a guard violation is already
  // reported: a disturbed one must be armed afresh before the next call.
  const int arg = chain.modifiedArgument();
  if (arg || !r.ok()) argumentsOutcome(fn.signature.name, arg, r);
  if (ownJob) endJob();
}

}  // namespace ufhost
