// A cycle object: one stretch of a calendar in which fiscal years follow one
// pattern, with its attributes.
#pragma once

#include "engine_com.h"
#include "fiscal_rules.h"
#include "persist_xml.h"

namespace vrz {

class CycleObject final : public ComObject<CycleObject, DispatchImpl<IVRCycleObject>, PersistXmlImpl> {
 public:
  CycleObject() = default;
  ~CycleObject() = default;

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

// The rule of any cycle object, read through its interface; false when a getter
// fails or a date is out of range.
bool readRule(IVRCycleObject* cycle, CycleRule* rule);

}  // namespace vrz
