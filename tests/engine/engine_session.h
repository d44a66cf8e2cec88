// What every engine test program needs once: a private class registry with the
// engine registered by its own DllRegisterServer, COM initialised on the main
// thread, and the engine's server entry points at hand.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "comptr.h"
#include "comtypes.h"
#include "vrzelcal.h"

namespace enginetest {

class Session {
 public:
  static Session& get();

  const std::string& registryFile() const { return registry_; }
  const std::string& folder() const { return folder_; }
  // The engine's own path, as the registry file records it.
  const std::string& enginePath() const { return enginePath_; }

  HRESULT canUnloadNow() const;
  HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** ppv) const;
  HRESULT registerServer() const;
  HRESULT unregisterServer() const;

 private:
  Session();
  std::string folder_;
  std::string registry_;
  std::string enginePath_;
  void* engine_ = nullptr;
};

// Engine tests start from a fresh factory and check, when they end, that every
// engine object they made has been freed.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  CComPtr<IVRZELCalendarFactory> factory_;
};

// Interfaces of one new calendar.
struct CalendarRefs {
  CComPtr<IVRCalendar> calendar;
  CComPtr<IVRCalendarManager> manager;
  CComPtr<IVRPersistXML> xml;
};
CalendarRefs newCalendar(IVRZELCalendarFactory* factory);
CComPtr<IVRCycleObject> newCycle(IVRZELCalendarFactory* factory);
CComPtr<IktEnumDispatch> newCollection();

// A new BSTR of a narrow ASCII text.
BSTR bstr(const char* text);
// The BSTR's text as narrow ASCII, then frees it.
std::string takeText(BSTR text);

}  // namespace enginetest
