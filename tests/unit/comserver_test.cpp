// The COM server entry points: fixed answers from an empty module record.
#include "comserver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "comserver_module.h"
#include "test_env.h"

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kFalse = 1;
constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111u);

const GUID kSomeClass = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kAllOnes = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
const GUID kNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const GUID kUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The registry the COM runtime would write, kept in a private folder.
class ComServer : public ::testing::Test {
 protected:
  testenv::TempDir dir_;
  std::string registry_ = dir_.write("registry", "{00000000-0000-0000-0000-000000000001}=/nowhere.so\n");
  testenv::ScopedEnv registryEnv_{"U2LVOST_COM_REGISTRY", registry_.c_str()};
  testenv::ScopedEnv xdg_{"XDG_CONFIG_HOME", dir_.path().c_str()};
  testenv::ScopedEnv home_{"HOME", dir_.path().c_str()};

  bool registryUntouched() const {
    size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
      (void)entry;
      ++files;
    }
    return files == 1 && testenv::readFile(registry_) == "{00000000-0000-0000-0000-000000000001}=/nowhere.so\n";
  }
};

TEST_F(ComServer, ModuleRecordIsEmpty) {
  EXPECT_EQ(_Module.m_pObjMap, nullptr);
  EXPECT_TRUE(IsEqualGUID(_Module.m_libid, kNull));
  EXPECT_EQ(_Module.m_RegisterServer, nullptr);
  EXPECT_EQ(_Module.m_UnregisterServer, nullptr);
  EXPECT_EQ(_Module.m_nLockCnt, 0);
}

TEST_F(ComServer, RegistrationSucceedsWithoutTouchingTheRegistry) {
  // Twice and in both orders.
  EXPECT_EQ(DllRegisterServer(), kOk);
  EXPECT_EQ(DllRegisterServer(), kOk);
  EXPECT_EQ(DllUnregisterServer(), kOk);
  EXPECT_EQ(DllUnregisterServer(), kOk);
  EXPECT_EQ(DllRegisterServer(), kOk);
  EXPECT_EQ(DllUnregisterServer(), kOk);
  EXPECT_TRUE(registryUntouched());
}

TEST_F(ComServer, EveryClassIsRefused) {
  const GUID* classes[] = {&kSomeClass, &kAllOnes, &kNull, &kUnknown, &kClassFactory};
  const GUID* interfaces[] = {&kClassFactory, &kUnknown, &kSomeClass};
  int sentinel = 0;
  for (const GUID* clsid : classes) {
    for (const GUID* iid : interfaces) {
      void* out = &sentinel;
      EXPECT_EQ(DllGetClassObject(*clsid, *iid, &out), kClassNotAvailable);
      EXPECT_EQ(out, &sentinel);
    }
  }
  EXPECT_EQ(DllGetClassObject(kSomeClass, kClassFactory, nullptr), kClassNotAvailable);
  EXPECT_TRUE(registryUntouched());
}

TEST_F(ComServer, CanAlwaysUnload) {
  EXPECT_EQ(DllCanUnloadNow(), kOk);
  EXPECT_EQ(DllRegisterServer(), kOk);
  EXPECT_EQ(DllCanUnloadNow(), kOk);
  void* out = nullptr;
  EXPECT_EQ(DllGetClassObject(kSomeClass, kClassFactory, &out), kClassNotAvailable);
  EXPECT_EQ(DllCanUnloadNow(), kOk);
  EXPECT_EQ(DllUnregisterServer(), kOk);
  EXPECT_EQ(DllCanUnloadNow(), kOk);
}

// The answers come from the record: a lock or a listed class changes them.
int createdCount = 0;
HRESULT fakeFactory(REFIID, LPVOID* ppv) {
  ++createdCount;
  *ppv = &createdCount;
  return kOk;
}

TEST_F(ComServer, AnswersFollowTheModuleRecord) {
  _Module.m_nLockCnt = 1;
  EXPECT_EQ(DllCanUnloadNow(), kFalse);
  _Module.m_nLockCnt = 0;
  EXPECT_EQ(DllCanUnloadNow(), kOk);

  _ATL_OBJMAP_ENTRY table[] = {{&kSomeClass, "Some.Class", "Some class", fakeFactory},
                               {nullptr, nullptr, nullptr, nullptr}};
  _Module.m_pObjMap = table;
  void* out = nullptr;
  const HRESULT listed = DllGetClassObject(kSomeClass, kClassFactory, &out);
  int sentinel = 0;
  void* other = &sentinel;
  const HRESULT unlisted = DllGetClassObject(kAllOnes, kClassFactory, &other);
  _Module.m_pObjMap = nullptr;

  EXPECT_EQ(listed, kOk);
  EXPECT_EQ(out, &createdCount);
  EXPECT_EQ(createdCount, 1);
  EXPECT_EQ(unlisted, kClassNotAvailable);
  EXPECT_EQ(other, &sentinel);
}

}  // namespace
