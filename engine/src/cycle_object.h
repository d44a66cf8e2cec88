// A cycle object: one stretch of a calendar in which fiscal years follow one
// pattern, with its attributes.
#pragma once

#include <cstdint>

#include "engine_com.h"
#include "fiscal_rules.h"
#include "persist_xml.h"

namespace vrz {

// Answered only by this engine's own cycle objects, with the object itself: a
// calendar sees their changes through cycleRuleEdits() and need not read them
// again on every question.
// {A5AF9A87-C6C0-48E7-93B4-85FBA3736C14}
inline constexpr IID IID_EngineCycleObject = {
    0xA5AF9A87, 0xC6C0, 0x48E7, {0x93, 0xB4, 0x85, 0xFB, 0xA3, 0x73, 0x6C, 0x14}};

class CycleObject final : public ComObject<CycleObject, DispatchImpl<IVRCycleObject>, PersistXmlImpl> {
 public:
  CycleObject() = default;
  // A cycle as AddCycleEntry makes it: set and dirty, without counting as an edit
  // of an existing cycle.
  CycleObject(DATE effective, ECALENDARCYCLE_CYCLETYPE type, SHORT month, ECALENDARCYCLE_DATEOFWEEK weekday,
              ECALENDARCYCLE_YEARENDELECTION election, ECALENDARCYCLE_PDCOUNTING counting)
      : type_(type), weekday_(weekday), counting_(counting), election_(election), month_(month),
        effective_(effective), dirty_(1) {}
  ~CycleObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

  // Setters store what they are given (a calendar checks a cycle when it uses
  // it, so stored rows with unused fields left empty still load) and mark the
  // object dirty; dates must be finite and within the engine's range.
  HRESULT STDMETHODCALLTYPE get_CycleType(ECALENDARCYCLE_CYCLETYPE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_CycleType(ECALENDARCYCLE_CYCLETYPE newVal) override;
  HRESULT STDMETHODCALLTYPE get_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK* pVal) override;
  HRESULT STDMETHODCALLTYPE put_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK newVal) override;
  HRESULT STDMETHODCALLTYPE get_PDCounting(ECALENDARCYCLE_PDCOUNTING* pVal) override;
  HRESULT STDMETHODCALLTYPE put_PDCounting(ECALENDARCYCLE_PDCOUNTING newVal) override;
  HRESULT STDMETHODCALLTYPE get_YearEndElect(ECALENDARCYCLE_YEARENDELECTION* pVal) override;
  HRESULT STDMETHODCALLTYPE put_YearEndElect(ECALENDARCYCLE_YEARENDELECTION newVal) override;
  HRESULT STDMETHODCALLTYPE get_FYEndMonth(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_FYEndMonth(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_EffectiveDate(DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_EffectiveDate(DATE newVal) override;
  HRESULT STDMETHODCALLTYPE get_EndDate(DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_EndDate(DATE newVal) override;
  HRESULT STDMETHODCALLTYPE get_YearNumberOffset(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_YearNumberOffset(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_NumberOfYears(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_NumberOfYears(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_IsDirty(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_IsDirty(SHORT newVal) override;

 private:
  // A new object is a monthly cycle ending in December, with no dates (-1.0,
  // the system's missing date) until they are set.
  ECALENDARCYCLE_CYCLETYPE type_ = CYCLETYPE_MONTHLY;
  ECALENDARCYCLE_DATEOFWEEK weekday_ = DATEOFWEEK_SUNDAY;
  ECALENDARCYCLE_PDCOUNTING counting_ = PDCOUNT_FORWARD;
  ECALENDARCYCLE_YEARENDELECTION election_ = YEARENDELECTION_LASTWEEKDAY;
  SHORT month_ = 12;
  DATE effective_ = -1.0;
  DATE end_ = -1.0;
  SHORT yearOffset_ = 0;
  SHORT years_ = 0;
  SHORT dirty_ = 0;
};

// Counts every change of a cycle object's rule (its type, weekday, election,
// month or dates) in the process. Calendars keep the rules they read together
// with this count and read them again only when it has moved.
uint64_t cycleRuleEdits();

// The rule of any cycle object, read through its interface; false when a getter
// fails or a date is out of range.
bool readRule(IVRCycleObject* cycle, CycleRule* rule);

}  // namespace vrz
