#include "function_library.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "comtypes.h"
#include "host_sys.h"

namespace ufhost {
namespace {

// Guard bytes around every buffer the library may write: a short run before it
// and a long one after it, so a write past the end lands in the guard rather
// than in someone else's memory.
// The back guard covers the largest size a return-size function can ask for
// (a signed 16-bit count), so a runaway write lands in it and is measured rather
// than hitting the harness's own memory.
constexpr size_t kFrontGuard = 256;
constexpr size_t kBackGuard = 32768;
// A result buffer starts filled with this, so a result without its NUL shows.
constexpr unsigned char kFill = 0xCD;
// No table is longer than this; past it the end row is taken as missing.
constexpr int kMaxRows = 1000;

// Never 0 and never ASCII, so no NUL, blank or digit written over a guard byte
// can leave it as it was.
unsigned char guardByte(size_t i) { return static_cast<unsigned char>(0x80 | ((i * 37 + 11) & 0x7F)); }

class GuardedBuffer {
 public:
  // size bytes the library may use, filled with kFill or with a copy of text
  // and its NUL (size must then be strlen(text) + 1).
  explicit GuardedBuffer(size_t size, const char* text = nullptr) : size_(size), raw_(kFrontGuard + size + kBackGuard) {
    for (size_t i = 0; i < kFrontGuard; ++i) raw_[i] = guardByte(i);
    for (size_t i = 0; i < kBackGuard; ++i) raw_[kFrontGuard + size + i] = guardByte(i + kFrontGuard);
    if (text) {
      std::memcpy(data(), text, size);
      original_.assign(text, text + size);
    } else {
      std::memset(data(), kFill, size);
    }
  }
  char* data() { return reinterpret_cast<char*>(raw_.data() + kFrontGuard); }
  size_t size() const { return size_; }
  bool frontIntact() const {
    for (size_t i = 0; i < kFrontGuard; ++i)
      if (raw_[i] != guardByte(i)) return false;
    return true;
  }
  // How many bytes past the end were written to, counting to the farthest one; 0 when none.
  size_t overrunExtent() const {
    for (size_t i = kBackGuard; i > 0; --i)
      if (raw_[kFrontGuard + size_ + i - 1] != guardByte(i - 1 + kFrontGuard)) return i;
    return 0;
  }
  bool bodyUnchanged() const { return std::memcmp(raw_.data() + kFrontGuard, original_.data(), size_) == 0; }
  // Length of the text before the first NUL, or size() when there is none.
  size_t textLength() const {
    const void* nul = std::memchr(raw_.data() + kFrontGuard, 0, size_);
    return nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - (raw_.data() + kFrontGuard)) : size_;
  }

 private:
  size_t size_;
  std::vector<unsigned char> raw_;
  std::vector<char> original_;
};

// The argument list as the engine hands it over, and its return-size twin.
struct ArgumentChain {
  std::vector<UFParamListElement> elements;
  std::vector<UFMemCalcParam> memCalc;
  std::vector<std::unique_ptr<GuardedBuffer>> texts;  // one per string argument, in order
  std::vector<int> textArgument;                      // its 1-based argument number

  explicit ArgumentChain(const std::vector<Value>& args) : elements(args.size()), memCalc(args.size()) {
    for (size_t i = 0; i < args.size(); ++i) {
      const Value& v = args[i];
      UFParamListElement& e = elements[i];
      std::memset(&e, 0, sizeof e);
      e.StructSize = sizeof(UFParamListElement);
      e.NextParam = i + 1 < args.size() ? &elements[i + 1] : nullptr;
      switch (v.type) {
        case ValueType::Number:
          e.ParamType = UFNumber;
          e.ParamLength = sizeof(UFTNumber);
          e.Parameter.ParamNumber = v.number * 100.0;  // the engine's hundredfold
          break;
        case ValueType::Boolean:
          e.ParamType = UFBoolean;
          e.ParamLength = sizeof(UFTBoolean);
          e.Parameter.ParamBoolean = v.boolean ? 1 : 0;
          break;
        case ValueType::Date:
          e.ParamType = UFDate;
          e.ParamLength = sizeof(CRDate);
          e.Parameter.ParamDate = v.date;
          break;
        case ValueType::Time:
          e.ParamType = UFTime;
          e.ParamLength = sizeof(CRTime);
          e.Parameter.ParamTime = v.time;
          break;
        case ValueType::DateTime:
          e.ParamType = UFDateTime;
          e.ParamLength = sizeof(CRDateTime);
          e.Parameter.ParamDateTime.date = v.date;
          e.Parameter.ParamDateTime.time = v.time;
          break;
        case ValueType::String: {
          // The text travels up to its first NUL, as a C string would.
          const size_t len = std::strlen(v.text.c_str());
          texts.push_back(std::make_unique<GuardedBuffer>(len + 1, v.text.c_str()));
          textArgument.push_back(static_cast<int>(i + 1));
          e.ParamType = UFStringArg;
          e.ParamLength = static_cast<int16_t>(len + 1 < 32767 ? len + 1 : 32767);
          e.Parameter.ParamString = texts.back()->data();
          break;
        }
      }
      UFMemCalcParam& m = memCalc[i];
      std::memset(&m, 0, sizeof m);
      m.StructSize = sizeof(UFMemCalcParam);
      m.NextMemCalcParam = i + 1 < args.size() ? &memCalc[i + 1] : nullptr;
      m.MemCalcParamLength = e.ParamLength;
      m.MemCalcLiteralFlag = UFLiteral;  // every argument the harness passes is a literal
      m.MemCalcParamType = e.ParamType;
      m.MemCalcParameter = e.Parameter;
    }
  }
  UFParamListElement* first() { return elements.empty() ? nullptr : &elements[0]; }
  UFMemCalcParam* firstMemCalc() { return memCalc.empty() ? nullptr : &memCalc[0]; }

  // 0 when every argument text is as it was, else the first argument written to.
  int modifiedArgument() const {
    for (size_t i = 0; i < texts.size(); ++i)
      if (!texts[i]->frontIntact() || texts[i]->overrunExtent() || !texts[i]->bodyUnchanged()) return textArgument[i];
    return 0;
  }
};

int16_t resultLength(ValueType t) {
  switch (t) {
    case ValueType::Number:
      return sizeof(UFTNumber);
    case ValueType::Boolean:
      return sizeof(UFTBoolean);
    case ValueType::Date:
      return sizeof(CRDate);
    case ValueType::Time:
      return sizeof(CRTime);
    case ValueType::DateTime:
      return sizeof(CRDateTime);
    case ValueType::String:
      break;
  }
  return 0;
}

// A valid address for the engine's error callback; this library's interface
// never calls it, and a library that does finds nothing to crash on.
void UF_CALL engineErrorHandler(UFError) {}

std::string codeText(int32_t code) { return std::string(errorName(code)) + " (" + std::to_string(code) + ")"; }

template <class F>
F entryPoint(void* handle, const char* name) {
  return reinterpret_cast<F>(sys::findSymbol(handle, name));
}

}  // namespace

bool isGuardViolation(CallStatus status) {
  return status == CallStatus::BufferOverrun || status == CallStatus::BufferUnderrun ||
         status == CallStatus::NotTerminated || status == CallStatus::ReturnPointerChanged ||
         status == CallStatus::ArgumentModified;
}

const char* statusName(CallStatus status) {
  switch (status) {
    case CallStatus::Ok:
      return "ok";
    case CallStatus::FunctionError:
      return "function error";
    case CallStatus::BufferOverrun:
      return "buffer overrun";
    case CallStatus::BufferUnderrun:
      return "buffer underrun";
    case CallStatus::NotTerminated:
      return "string not terminated";
    case CallStatus::ReturnPointerChanged:
      return "return pointer changed";
    case CallStatus::ArgumentModified:
      return "argument modified";
    case CallStatus::NotCallable:
      return "not callable";
  }
  return "?";
}

const char* errorName(int32_t code) {
  switch (code) {
    case UFUserError:
      return "UFUserError";
    case UFNoError:
      return "UFNoError";
    case UFNoMemory:
      return "UFNoMemory";
    case UFStringTooBig:
      return "UFStringTooBig";
    case UFDivideByZero:
      return "UFDivideByZero";
    case UFArrayIndexTooBig:
      return "UFArrayIndexTooBig";
    case UFStringIndexTooBig:
      return "UFStringIndexTooBig";
    case UFNotEnoughParameters:
      return "UFNotEnoughParameters";
    case UFMemCalcFail:
      return "UFMemCalcFail";
    default:
      return "unknown error";
  }
}

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
  // Templates and examples follow the same order; a shorter table leaves texts empty.
  UFFunctionTemplateList* templates = getTemplates ? getTemplates() : nullptr;
  if (templates && templates->UFFuncTemplatePtr) {
    for (size_t i = 0; i < functions_.size(); ++i) {
      const char* t = templates->UFFuncTemplatePtr[i].FuncTemplate;
      if (!t) break;
      functions_[i].templateText = t;
    }
  }
  UFFunctionExampleList* examples = getExamples ? getExamples() : nullptr;
  if (examples && examples->FuncExample) {
    for (size_t i = 0; i < functions_.size(); ++i) {
      const char* t = examples->FuncExample[i].FuncExample;
      if (!t) break;
      functions_[i].example = t;
    }
  }
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

bool FunctionLibrary::checkArguments(const FunctionInfo& fn, const std::vector<Value>& args, std::string& error) {
  if (!fn.understood) {
    error = "its definition text \"" + fn.definition + "\" is not understood: " + fn.parseError;
    return false;
  }
  const std::vector<ValueType>& params = fn.signature.params;
  if (args.size() != params.size()) {
    error = fn.signature.name + " takes " + std::to_string(params.size()) + " argument" +
            (params.size() == 1 ? "" : "s") + " (" + describeSignature(fn.signature) + "), " +
            std::to_string(args.size()) + " given";
    return false;
  }
  for (size_t i = 0; i < params.size(); ++i) {
    if (args[i].type != params[i]) {
      error = "argument " + std::to_string(i + 1) + " of " + fn.signature.name + " must be a " + typeName(params[i]) +
              ", not a " + typeName(args[i].type);
      return false;
    }
  }
  return true;
}

CallResult FunctionLibrary::evaluate(const FunctionInfo& fn, const std::vector<Value>& args) {
  CallResult r;
  if (!checkArguments(fn, args, r.message)) {
    r.status = CallStatus::NotCallable;
    return r;
  }
  return callUnchecked(fn, args);
}

CallResult FunctionLibrary::callUnchecked(const FunctionInfo& fn, const std::vector<Value>& args) {
  CallResult r;
  if (!handle_) {
    r.status = CallStatus::NotCallable;
    r.message = "no library is loaded";
    return r;
  }
  if (!fn.understood) {
    r.status = CallStatus::NotCallable;
    r.message = "its definition text \"" + fn.definition + "\" is not understood: " + fn.parseError;
    return r;
  }
  const ValueType returnType = fn.signature.returnType;
  const std::string& name = fn.signature.name;
  ArgumentChain chain(args);

  const bool ownJob = !inJob_;
  if (ownJob) startJob();

  int size = 0;
  bool sized = true;
  if (returnType == ValueType::String) {
    if (fn.returnSize) {
      UFMemCalcBlock block;
      std::memset(&block, 0, sizeof block);
      block.StructSize = sizeof(UFMemCalcBlock);
      block.MemCalcCommand = UFCalcStringLength;
      block.UFMemCalcParamList = chain.firstMemCalc();
      block.UFParamList = chain.first();
      UFError rc = fn.returnSize(&block);
      if (rc != UFNoError) {
        r.status = CallStatus::FunctionError;
        r.errorCode = UFMemCalcFail;
        r.message = "the return-size function of " + name + " answered " + codeText(rc);
        sized = false;
      } else if (block.UFMemCalcStringLength < 1) {
        r.status = CallStatus::FunctionError;
        r.errorCode = UFMemCalcFail;
        r.message = "the return-size function of " + name + " asked for " +
                    std::to_string(block.UFMemCalcStringLength) + " bytes";
        sized = false;
      } else {
        size = block.UFMemCalcStringLength;
      }
    } else {
      size = kDefaultStringSize;
      r.defaultSize = true;
    }
    r.bufferSize = size;
  }

  if (sized) {
    GuardedBuffer result(static_cast<size_t>(size));
    UFParamBlock block;
    std::memset(&block, 0, sizeof block);
    block.StructSize = sizeof(UFParamBlock);
    if (returnType == ValueType::String) {
      block.ReturnValue.ReturnString = result.data();
      block.ReturnValueLength = static_cast<int16_t>(size);
    } else {
      block.ReturnValueLength = resultLength(returnType);
    }
    block.FunctionNumber = static_cast<int16_t>(fn.index);
    block.UFErrorHandler = engineErrorHandler;
    block.UFParamList = chain.first();
    block.JobId = jobId_;

    UFError rc = fn.entry(&block);

    const std::string bufferWhat =
        std::to_string(size) + "-byte result buffer" + (r.defaultSize ? " (the engine's default size)" : "");
    if (returnType == ValueType::String && !result.frontIntact()) {
      r.status = CallStatus::BufferUnderrun;
      r.message = name + " wrote before the start of its " + bufferWhat;
    } else if (size_t beyond = returnType == ValueType::String ? result.overrunExtent() : 0) {
      r.status = CallStatus::BufferOverrun;
      r.message = name + " wrote " + std::to_string(beyond) + " byte" + (beyond == 1 ? "" : "s") +
                  " past the end of its " + bufferWhat;
    } else if (returnType == ValueType::String && rc != UFUserError &&  // its number overlays the pointer
               block.ReturnValue.ReturnString != result.data()) {
      r.status = CallStatus::ReturnPointerChanged;
      r.message = name + " replaced the ReturnString pointer instead of writing into the buffer";
    } else if (rc != UFNoError) {
      r.status = CallStatus::FunctionError;
      r.errorCode = rc;
      r.message = name + " answered " + codeText(rc);
      if (rc == UFUserError && errorRecovery_) {
        const char* text = errorRecovery_(&block, rc);
        if (text) r.message += ": " + std::string(text);
      }
    } else {
      switch (returnType) {
        case ValueType::String: {
          size_t len = result.textLength();
          if (len >= result.size()) {
            r.status = CallStatus::NotTerminated;
            r.message = name + " left its string result without a terminating NUL inside its " + bufferWhat;
          } else {
            r.value = Value::makeString(std::string(result.data(), len));
          }
          break;
        }
        case ValueType::Number:
          r.value = Value::makeNumber(block.ReturnValue.ReturnNumber / 100.0);
          break;
        case ValueType::Boolean:
          r.value = Value::makeBoolean(block.ReturnValue.ReturnBoolean != 0);
          break;
        case ValueType::Date:
          r.value = Value::makeDate(block.ReturnValue.ReturnDate);
          break;
        case ValueType::Time:
          r.value = Value::makeTime(block.ReturnValue.ReturnTime);
          break;
        case ValueType::DateTime:
          r.value = Value::makeDateTime(block.ReturnValue.ReturnDateTime.date, block.ReturnValue.ReturnDateTime.time);
          break;
      }
    }
  }

  // Argument texts belong to the engine: a write into one outweighs any answer.
  if (!isGuardViolation(r.status)) {
    if (int arg = chain.modifiedArgument()) {
      r.status = CallStatus::ArgumentModified;
      r.errorCode = UFNoError;
      r.message = name + " wrote into the text of its argument " + std::to_string(arg);
    }
  }
  if (!r.ok()) r.value = Value();
  if (ownJob) endJob();
  return r;
}

}  // namespace ufhost
