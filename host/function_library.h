// A user function library loaded the way the report engine loads one: COM
// initialised on the thread, UFInitialize, the three tables read, jobs opened
// and closed around evaluations, UFTerminate before unloading. Every string
// result lands in a guarded buffer so that a write outside the size the
// library asked for is reported, never silently accepted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
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
const char* statusName(CallStatus status);
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

// One call site's function and argument list, laid out once; later calls only
// patch the arguments that change (a report's column fields, row by row).
class BoundCall {
 public:
  BoundCall();
  ~BoundCall();
  BoundCall(BoundCall&&) noexcept;
  BoundCall& operator=(BoundCall&&) noexcept;

  // The function and every argument's first value; args must suit fn (count and types).
  void bind(const FunctionInfo& fn, const std::vector<Value>& args);
  // Argument i, of the type it was bound with: a value, or a text that must
  // stay in place until the next call has returned.
  void setValue(size_t i, const Value& v);
  void setText(size_t i, const char* text, size_t length);
  // The same for a text that holds no NUL, as a field of a report's rows.
  void setFieldText(size_t i, const char* text, size_t length);
  // The same for a number (the formula value, not the hundredfold) or a day number.
  void setNumber(size_t i, double v);
  void setDate(size_t i, int32_t dayNumber);
  // Where argument i's value lies in the list the library is handed, and in
  // its return-size twin when there is one (else null): kValueSize bytes, a
  // number argument's hundredfold as a double or a date's day number as a
  // 32-bit integer, the rest zero. For a caller that patches the same argument
  // row after row, best with one store of all kValueSize bytes; valid until
  // the next bind. Null for an argument not bound as one of those.
  static constexpr size_t kValueSize = 16;
  struct ValueSlot {
    void* list = nullptr;
    void* twin = nullptr;
  };
  ValueSlot slot(size_t i);
  const FunctionInfo* function() const { return fn_; }
  // A string result left where the library wrote it instead of copied into
  // the result's value (which then holds an empty text): read it with
  // resultText(), valid until this call site's next call. At least
  // kResultReadable bytes can be read from where it starts, whatever its length.
  void leaveTextInPlace(bool inPlace) { textInPlace_ = inPlace; }
  static constexpr size_t kResultReadable = 32;
  const char* resultText() const;
  size_t resultLength() const { return resultLength_; }
  // After a call that succeeded: the day number of a date result, and any
  // result as a value.
  int32_t resultDate() const;
  Value resultValue() const;

 private:
  friend class FunctionLibrary;
  const FunctionInfo* fn_ = nullptr;
  bool runnable_ = false;    // bound to a function the harness can call
  bool textResult_ = false;  // its result is a text
  bool textInPlace_ = false;
  size_t resultLength_ = 0;
  std::vector<Value> literals_;  // the texts bound here stay where the list points
  std::unique_ptr<CallScratch> chain_;
};

class FunctionLibrary;
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

  // Whether the arguments suit the signature; the reason in error when not.
  static bool checkArguments(const FunctionInfo& fn, const std::vector<Value>& args, std::string& error);
  // The same for the types only: each argument that has a parameter in its
  // position must be of that parameter's type; fewer or more are allowed.
  static bool checkArgumentTypes(const FunctionInfo& fn, const std::vector<Value>& args, std::string& error);

  // Calls the function with these arguments, checked against its definition.
  CallResult evaluate(const FunctionInfo& fn, const std::vector<Value>& args);
  // Calls it with fewer or more arguments than its definition names, each of
  // the type its position declares: for seeing the library's own answer to a
  // missing argument. A value of the wrong type is refused (NotCallable), since
  // the library would read it as its own type (a number as a text pointer).
  CallResult evaluateAnyCount(const FunctionInfo& fn, const std::vector<Value>& args);
  // Calls it with whatever arguments are given, unchecked.
  CallResult callUnchecked(const FunctionInfo& fn, const std::vector<Value>& args);
  // The same into a result kept by the caller, whose strings are reused: for
  // a report's millions of calls.
  void callInto(const FunctionInfo& fn, const std::vector<Value>& args, CallResult& result);
  // The same for a bound call site: nothing is laid out again but the patched arguments.
  void call(BoundCall& bound, CallResult& result);
  // The same for a report's rows, checked alike: true when the call succeeded,
  // its result then read from the call site (resultDate, resultText, resultValue);
  // false with result saying why. result is written only when the call failed.
  bool run(BoundCall& bound, CallResult& result);

 private:
  bool readTables(std::string& error);
  static void resetResult(CallResult& r);
  // False, with r saying why, when fn cannot be called at all.
  bool callable(const FunctionInfo& fn, CallResult& r) const;
  // A string result's length goes to *inPlace, its text left in the buffer, when given.
  void invoke(const FunctionInfo& fn, CallScratch& chain, CallResult& r, size_t* inPlace = nullptr);
  bool resultSize(const FunctionInfo& fn, CallScratch& chain, int& size, CallResult& r);
  void valueOutcome(const FunctionInfo& fn, UFParamBlock& block, UFError rc, CallResult& r);
  void textOutcome(const FunctionInfo& fn, CallScratch& chain, UFParamBlock& block, UFError rc, const char* buffer,
                   int size, CallResult& r, size_t* inPlace);
  void argumentsOutcome(const FunctionInfo& fn, CallScratch& chain, CallResult& r, size_t* inPlace);
  bool runForText(BoundCall& bound, CallResult& r);
  bool runSlowly(BoundCall& bound, CallResult& r);
  bool runRefused(BoundCall& bound, CallResult& r);
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
