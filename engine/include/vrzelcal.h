// The fiscal-calendar engine's classes, interfaces and enumerations.
// Every interface derives from IDispatch; methods keep their vtable slots in the
// order given here, also those the report library never calls.
#pragma once

#include <cstdint>

#include "comtypes.h"

enum ECALENDARCYCLE_CYCLETYPE : int32_t {
  CYCLETYPE_MONTHLY = 327,
  CYCLETYPE_FOURFOURFIVE = 328,
  CYCLETYPE_FOURFIVEFOUR = 329,
  CYCLETYPE_FIVEFOURFOUR = 330,
  CYCLETYPE_THIRTEENPERIOD = 331,
  CYCLETYPE_CUSTOM = 332,
};

enum ECALENDARCYCLE_DATEOFWEEK : int32_t {
  DATEOFWEEK_SUNDAY = 1,
  DATEOFWEEK_MONDAY = 2,
  DATEOFWEEK_TUESDAY = 3,
  DATEOFWEEK_WEDNESDAY = 4,
  DATEOFWEEK_THURSDAY = 5,
  DATEOFWEEK_FRIDAY = 6,
  DATEOFWEEK_SATURDAY = 7,
};

enum ECALENDARCYCLE_PDCOUNTING : int32_t {
  PDCOUNT_FORWARD = 333,
  PDCOUNT_BACKWARD = 334,
  PDCOUNT_BACKWARD_OLDMONTH = 335,
};

enum ECALENDARCYCLE_YEARENDELECTION : int32_t {
  YEARENDELECTION_LASTWEEKDAY = 336,
  YEARENDELECTION_CLOSESTWEEKDAY = 337,
};

// {4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}
inline constexpr CLSID CLSID_VRZELCalendarFactory = {
    0x4CA227F1, 0xB70A, 0x4EA8, {0xBE, 0xA3, 0xD9, 0x5C, 0x24, 0x44, 0x6A, 0x4B}};
// {A0370145-FF90-4156-994E-34E43408E3A5}
inline constexpr IID IID_IVRZELCalendarFactory = {
    0xA0370145, 0xFF90, 0x4156, {0x99, 0x4E, 0x34, 0xE4, 0x34, 0x08, 0xE3, 0xA5}};
// {33C9B846-0D15-11D2-98A2-00104B9B151D}
inline constexpr CLSID CLSID_ktEnumDispatch = {
    0x33C9B846, 0x0D15, 0x11D2, {0x98, 0xA2, 0x00, 0x10, 0x4B, 0x9B, 0x15, 0x1D}};
// {33C9B845-0D15-11D2-98A2-00104B9B151D}
inline constexpr IID IID_IktEnumDispatch = {
    0x33C9B845, 0x0D15, 0x11D2, {0x98, 0xA2, 0x00, 0x10, 0x4B, 0x9B, 0x15, 0x1D}};
// {BAAE3011-2EFD-11D3-B969-00104B45894F}
inline constexpr IID IID_IVRCalendar = {
    0xBAAE3011, 0x2EFD, 0x11D3, {0xB9, 0x69, 0x00, 0x10, 0x4B, 0x45, 0x89, 0x4F}};
// {EC279700-66D6-11D3-8FF0-00104B9B1670}
inline constexpr IID IID_IVRCalendarManager = {
    0xEC279700, 0x66D6, 0x11D3, {0x8F, 0xF0, 0x00, 0x10, 0x4B, 0x9B, 0x16, 0x70}};
// {9B06EA12-658C-474A-BE8B-D17BF12B008D}
inline constexpr IID IID_IVRPersistXML = {
    0x9B06EA12, 0x658C, 0x474A, {0xBE, 0x8B, 0xD1, 0x7B, 0xF1, 0x2B, 0x00, 0x8D}};
// {BAAE3008-2EFD-11D3-B969-00104B45894F}
inline constexpr IID IID_IVRFiscalYear = {
    0xBAAE3008, 0x2EFD, 0x11D3, {0xB9, 0x69, 0x00, 0x10, 0x4B, 0x45, 0x89, 0x4F}};
// {3A9A04C9-5599-11D3-8FE0-00104B9B1670}
inline constexpr IID IID_IVRCycleObject = {
    0x3A9A04C9, 0x5599, 0x11D3, {0x8F, 0xE0, 0x00, 0x10, 0x4B, 0x9B, 0x16, 0x70}};

struct IktEnumDispatch;
struct IVRFiscalYear;

// Makes the engine's objects. Out objects carry one reference for the caller.
struct IVRZELCalendarFactory : IDispatch {
  // A calendar without cycles: IVRCalendar, IVRCalendarManager, IVRPersistXML.
  virtual HRESULT STDMETHODCALLTYPE CalendarFactory(IDispatch** ppCalendar) = 0;
  // A cycle object: IVRCycleObject, IVRPersistXML.
  virtual HRESULT STDMETHODCALLTYPE CycleObjectFactory(IDispatch** ppCycle) = 0;
};

// An ordered collection of IDispatch references with a cursor for Next/Skip.
struct IktEnumDispatch : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IDispatch** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IktEnumDispatch** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CurrentIndex(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE Append(IDispatch* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAll() = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAt(LONG index) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAt(LONG index, IDispatch* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_GetAt(LONG index, IDispatch** pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) = 0;
};

// Named text attributes. Out BSTRs belong to the caller.
struct IVRPersistXML : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_XML(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_XML(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AttributeString(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AttributeString(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE AttributeCount(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE AttributeName(LONG index, BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Attribute(BSTR name, BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Attribute(BSTR name, BSTR newVal) = 0;
};

struct IVRCalendarManager : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetPeriod(DATE date, IDispatch** ppPeriod) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPeriodByNum(DATE fiscalYearDate, SHORT periodNum, IDispatch** ppPeriod) = 0;
  virtual HRESULT STDMETHODCALLTYPE FiscalYearEndDate(DATE date, DATE* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FiscalYearStartDate(DATE date, DATE* pVal) = 0;
  // From effectiveDate on, fiscal years end in fyEndMonth under this rule.
  virtual HRESULT STDMETHODCALLTYPE AddCycleEntry(DATE effectiveDate, ECALENDARCYCLE_CYCLETYPE cycleType, SHORT fyEndMonth,
                                                  ECALENDARCYCLE_DATEOFWEEK dayOfWeek,
                                                  ECALENDARCYCLE_YEARENDELECTION yearEndElect,
                                                  ECALENDARCYCLE_PDCOUNTING pdCounting) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearCycleEntries() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CycleList(IktEnumDispatch** pVal) = 0;
  // The collection's cycle objects become the calendar's whole cycle list.
  virtual HRESULT STDMETHODCALLTYPE put_CycleList(IktEnumDispatch* newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsDirty(SHORT* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsDirty(SHORT newVal) = 0;
};

struct IVRCalendar : IDispatch {
  // The fiscal year containing date under the cycles set so far.
  virtual HRESULT STDMETHODCALLTYPE GetFiscalYear(DATE date, IVRFiscalYear** ppFiscalYear) = 0;
};

struct IVRFiscalYear : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_YRStartDate(DATE* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_YRStartDate(DATE newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_YREndDate(DATE* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_YREndDate(DATE newVal) = 0;
};

struct IVRCycleObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_CycleType(ECALENDARCYCLE_CYCLETYPE* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CycleType(ECALENDARCYCLE_CYCLETYPE newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PDCounting(ECALENDARCYCLE_PDCOUNTING* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_PDCounting(ECALENDARCYCLE_PDCOUNTING newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_YearEndElect(ECALENDARCYCLE_YEARENDELECTION* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_YearEndElect(ECALENDARCYCLE_YEARENDELECTION newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FYEndMonth(SHORT* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_FYEndMonth(SHORT newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_EffectiveDate(DATE* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_EffectiveDate(DATE newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_EndDate(DATE* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_EndDate(DATE newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_YearNumberOffset(SHORT* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_YearNumberOffset(SHORT newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NumberOfYears(SHORT* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_NumberOfYears(SHORT newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsDirty(SHORT* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsDirty(SHORT newVal) = 0;
};

static_assert(sizeof(OLECHAR) == 2, "wide text is 16-bit code units");
