// QueryInterface on every kind of engine object: which interfaces each answers,
// IIDs that differ from a known one in a single byte, and the reference each
// answer adds.
#include <cstring>
#include <vector>

#include "engine_session.h"

namespace enginetest {
namespace {

// The count of references, read without changing it.
ULONG refsOf(IUnknown* u) {
  u->AddRef();
  return u->Release();
}

// The IID with one byte changed.
IID flipped(const IID& iid, size_t byte) {
  IID out = iid;
  unsigned char* raw = reinterpret_cast<unsigned char*>(&out);
  raw[byte] ^= 0x01;
  return out;
}

struct Known {
  const char* name;
  const IID* iid;
};
const Known kKnown[] = {
    {"IUnknown", &IID_IUnknown},
    {"IDispatch", &IID_IDispatch},
    {"IVRZELCalendarFactory", &IID_IVRZELCalendarFactory},
    {"IktEnumDispatch", &IID_IktEnumDispatch},
    {"IVRPersistXML", &IID_IVRPersistXML},
    {"IVRCalendarManager", &IID_IVRCalendarManager},
    {"IVRCalendar", &IID_IVRCalendar},
    {"IVRFiscalYear", &IID_IVRFiscalYear},
    {"IVRCycleObject", &IID_IVRCycleObject},
};

class InterfaceTest : public EngineTest {};

TEST_F(InterfaceTest, EachObjectAnswersItsOwnInterfacesAndNoNearMiss) {
  CalendarRefs cal = newCalendar(factory_);
  ASSERT_EQ(S_OK, cal.manager->AddCycleEntry(36526.0, CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY,
                                             YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));
  CComPtr<IVRFiscalYear> year;
  ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(36600.0, year.put()));
  CComPtr<IVRCycleObject> cycle = newCycle(factory_);
  CComPtr<IktEnumDispatch> collection = newCollection();
  ASSERT_TRUE(cycle && collection && year);

  struct Row {
    const char* object;
    IUnknown* unknown;
    std::vector<const IID*> offered;
  } rows[] = {
      {"calendar", cal.calendar, {&IID_IVRCalendar, &IID_IVRCalendarManager, &IID_IVRPersistXML}},
      {"cycle", cycle, {&IID_IVRCycleObject, &IID_IVRPersistXML}},
      {"fiscal year", year, {&IID_IVRFiscalYear}},
      {"collection", collection, {&IID_IktEnumDispatch}},
      {"factory", factory_, {&IID_IVRZELCalendarFactory}},
  };
  for (const Row& r : rows) {
    CComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, r.unknown->QueryInterface(IID_IUnknown, identity.putVoid())) << r.object;
    for (const Known& k : kKnown) {
      bool offered = k.iid == &IID_IUnknown || k.iid == &IID_IDispatch;
      for (const IID* o : r.offered) offered = offered || o == k.iid;
      SCOPED_TRACE(std::string(r.object) + " asked for " + k.name);

      const ULONG before = refsOf(r.unknown);
      void* out = &identity;  // junk the answer must overwrite
      const HRESULT hr = r.unknown->QueryInterface(*k.iid, &out);
      if (!offered) {
        EXPECT_EQ(E_NOINTERFACE, hr);
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(before, refsOf(r.unknown));
      } else {
        ASSERT_EQ(S_OK, hr);
        ASSERT_NE(nullptr, out);
        EXPECT_EQ(before + 1, refsOf(r.unknown));
        IUnknown* got = static_cast<IUnknown*>(out);
        // Whatever was asked, the object behind it is the same one.
        CComPtr<IUnknown> back;
        EXPECT_EQ(S_OK, got->QueryInterface(IID_IUnknown, back.putVoid()));
        EXPECT_EQ(identity.get(), back.get());
        // Asking the answer for the same interface gives the same pointer.
        void* again = nullptr;
        EXPECT_EQ(S_OK, got->QueryInterface(*k.iid, &again));
        EXPECT_EQ(out, again);
        if (again) static_cast<IUnknown*>(again)->Release();
        back.Release();
        got->Release();
        EXPECT_EQ(before, refsOf(r.unknown));
      }

      // One byte off in either half (the first, the last of each half) is
      // another interface altogether.
      for (size_t byte : {size_t{0}, size_t{7}, size_t{8}, size_t{15}}) {
        const IID near = flipped(*k.iid, byte);
        void* miss = &identity;
        EXPECT_EQ(E_NOINTERFACE, r.unknown->QueryInterface(near, &miss)) << "byte " << byte;
        EXPECT_EQ(nullptr, miss) << "byte " << byte;
        EXPECT_EQ(before, refsOf(r.unknown)) << "byte " << byte;
      }
    }
    EXPECT_EQ(E_POINTER, r.unknown->QueryInterface(IID_IUnknown, nullptr)) << r.object;
  }
}

}  // namespace
}  // namespace enginetest
