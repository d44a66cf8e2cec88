// A user function library loaded the way the report engine loads one: COM
// initialised on the thread, UFInitialize, the three tables read, jobs opened
// and closed around evaluations, UFTerminate before unloading. Every string
// result lands in a guarded buffer so that a write outside the size the
// library asked for is reported, never silently accepted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "function_definition.h"
#include "host_value.h"
#include "uf_records.h"

namespace ufhost {

// What the function table says about one formula function.
struct FunctionInfo {
  int index = 0;             // 0-based row in the tables
  std::string definition;    // the definition text as the library stores it
  std::string templateText;  // empty when the library gives none
  std::string example;
  bool understood = false;      // whether the definition text could be parsed
  FunctionSignature signature;  // valid when understood
  std::string parseError;       // why not, when not understood
  UFEntryFunc entry = nullptr;
  UFMemCalcFuncPtr returnSize = nullptr;
};

enum class CallStatus {
  Ok,
  FunctionError,         // the function (or its return-size function) answered a host error code
  BufferOverrun,         // wrote past the size the library asked for
  BufferUnderrun,        // wrote before the start of the result buffer
  NotTerminated,         // a string result without its NUL inside the buffer
  ReturnPointerChanged,  // replaced the engine's ReturnString pointer
  ArgumentModified,      // wrote into an argument's text
  NotCallable,           // no entry, a definition the harness cannot read, a bad argument list
};

// Broke the memory rules of the interface (as opposed to answering an error).
bool isGuardViolation(CallStatus status);
// "UFNotEnoughParameters" etc.; "unknown error" for numbers outside the table.
const char* errorName(int32_t code);

struct CallResult {
  CallStatus status = CallStatus::Ok;
  int32_t errorCode = UFNoError;  // the host error code: 0 when the call succeeded
  Value value;
  int bufferSize = 0;        // bytes behind ReturnString (string results)
  bool defaultSize = false;  // no return-size function: the engine's default was used
  std::string message;       // what went wrong, for a person
  bool ok() const { return status == CallStatus::Ok; }
};

struct CallScratch;
class FunctionLibrary;

// One call site's function and argument list, laid out once: a report patches
// the arguments its row gives and calls again. Its calls take the same path
// and checks as every other call.
class CallSite {
 public:
  CallSite();
  ~CallSite();
  CallSite(CallSite&&) noexcept;
  CallSite& operator=(CallSite&&) noexcept;

  // The function and every argument; args must suit fn (count and types).
  void bind(const FunctionInfo& fn, const std::vector<Value>& args);
  // Argument i, of the type it was bound with (a text where none was bound, or
  // the other way round, is ignored). A text stays where v holds it, so v must
  // stay unchanged until the call has returned.
  void setArgument(size_t i, const Value& v);
  // The same for a String argument whose text is held elsewhere.
  void setText(size_t i, std::string_view text);

 private:
  friend class FunctionLibrary;
  const FunctionInfo* fn_ = nullptr;
  std::unique_ptr<CallScratch> scratch_;
};

// "ZelNum takes 3 arguments (String ZelNum (Number, Number, String)), 2 given".
std::string argumentCountProblem(const FunctionInfo& fn, size_t given);
// "argument 3 of ZelNum must be a String, not a Number"; i counts from 0.
std::string argumentTypeProblem(const FunctionInfo& fn, size_t i, ValueType given);

// "unknown function 'ZelNm'; did you mean ZelNum?" (the question only when a name is close).
std::string unknownFunction(const FunctionLibrary& library, const std::string& name);

class FunctionLibrary {
 public:
  // The result buffer size when a string function has no return-size function.
  static constexpr int kDefaultStringSize = 255;

  FunctionLibrary();
  ~FunctionLibrary();
  FunctionLibrary(const FunctionLibrary&) = delete;
  FunctionLibrary& operator=(const FunctionLibrary&) = delete;

  // False, with a message naming the problem, when the file cannot be loaded or
  // is not a function library; nothing stays loaded then.
  bool load(const std::string& path, std::string& error);
  // Ends an open job, calls UFTerminate, unloads, uninitialises COM. Safe to repeat.
  void unload();
  bool isLoaded() const { return handle_ != nullptr; }
  const std::string& path() const { return path_; }

  const std::vector<FunctionInfo>& functions() const { return functions_; }
  // Case-insensitive, as a report designer types names. Null when unknown.
  const FunctionInfo* find(const std::string& name) const;
  // The callable function whose name is closest to a misspelt one (fewest
  // letters added, dropped or changed, any case); null when none is close.
  const FunctionInfo* nearest(const std::string& name) const;
  // Any other export, e.g. one the product's own program calls directly.
  void* symbol(const char* name) const;
  // UFGetVersion's answer, 0 when the library has no such entry.
  uint16_t version() const { return version_; }

  // A report job: UFStartJob / UFEndJob with a fresh job number. Calls outside
  // a job run in a job of their own.
  void startJob();
  void endJob();
  bool inJob() const { return inJob_; }
  uint32_t jobId() const { return jobId_; }

  // Calls the function with these arguments, checked against its definition.
  CallResult evaluate(const FunctionInfo& fn, const std::vector<Value>& args);
  // Calls it with fewer or more arguments than its definition names, each of
  // the type its position declares: for seeing the library's own answer to a
  // missing argument. A value of the wrong type is refused (NotCallable), since
  // the library would read it as its own type (a number as a text pointer).
  CallResult evaluateAnyCount(const FunctionInfo& fn, const std::vector<Value>& args);
  // Calls it with whatever arguments are given, unchecked.
  CallResult callUnchecked(const FunctionInfo& fn, const std::vector<Value>& args);
  // The same for a bound call site: only the patched arguments are laid out again.
  void call(CallSite& site, CallResult& result);

 private:
  bool readTables(std::string& error);
  static void resetResult(CallResult& r);
  // False, with r saying why, when fn cannot be called at all.
  bool callable(const FunctionInfo& fn, CallResult& r) const;
  void invoke(const FunctionInfo& fn, CallScratch& chain, CallResult& r);
  bool resultSize(const FunctionInfo& fn, CallScratch& chain, int& size, CallResult& r);
  void valueOutcome(const FunctionInfo& fn, UFParamBlock& block, UFError rc, CallResult& r);
  void textOutcome(const FunctionInfo& fn, CallScratch& chain, UFParamBlock& block, UFError rc, const char* buffer,
                   int size, CallResult& r);
  // The function's error code into r, with the library's own words for a user error.
  void functionError(const FunctionInfo& fn, UFParamBlock& block, UFError rc, CallResult& r);

  void* handle_ = nullptr;
  bool comInitialised_ = false;
  bool inJob_ = false;
  uint32_t jobId_ = 0;
  uint16_t version_ = 0;
  std::string path_;
  std::vector<FunctionInfo> functions_;
  std::unique_ptr<CallScratch> scratch_;  // argument chain and guarded buffers, reused by every call

  UFError(UF_CALL* initialize_)() = nullptr;
  UFError(UF_CALL* terminate_)() = nullptr;
  void(UF_CALL* startJob_)(uint32_t) = nullptr;
  void(UF_CALL* endJob_)(uint32_t) = nullptr;
  const char*(UF_CALL* errorRecovery_)(UFParamBlock*, UFError) = nullptr;
};

}  // namespace ufhost
