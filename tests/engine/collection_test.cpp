// The engine's ordered collection (IktEnumDispatch): order, cursor, every method,
// and the references it holds on its items.
#include "engine_session.h"

namespace enginetest {
namespace {

// A test-side IDispatch that counts its references; not an engine object.
class Probe final : public IDispatch {
 public:
  explicit Probe(int id) : id(id) {}
  const int id;
  ULONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IDispatch)) return E_NOINTERFACE;
    *ppv = this;
    ++refs;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // owned by the test, never freed here
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

class CollectionTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    for (int i = 0; i < 5; ++i) probes_.emplace_back(new Probe(i));
  }
  void TearDown() override {
    EngineTest::TearDown();
    for (auto& p : probes_) EXPECT_EQ(1u, p->refs) << "item " << p->id << " not released exactly";
  }

  // The ids of the items, read with get_GetAt.
  static std::vector<int> ids(IktEnumDispatch* list) {
    std::vector<int> out;
    LONG count = 0;
    EXPECT_EQ(S_OK, list->get_Count(&count));
    for (LONG i = 0; i < count; ++i) {
      IDispatch* item = nullptr;
      EXPECT_EQ(S_OK, list->get_GetAt(i, &item));
      if (!item) continue;
      out.push_back(static_cast<Probe*>(item)->id);
      item->Release();
    }
    return out;
  }

  CComPtr<IktEnumDispatch> listOf(std::initializer_list<int> which) {
    CComPtr<IktEnumDispatch> list = newCollection();
    for (int i : which) EXPECT_EQ(S_OK, list->Append(probes_[static_cast<size_t>(i)].get()));
    return list;
  }

  std::vector<std::unique_ptr<Probe>> probes_;
};

TEST_F(CollectionTest, AppendKeepsOrderAndOneReferencePerPlace) {
  CComPtr<IktEnumDispatch> list = listOf({3, 1, 4, 1});
  EXPECT_EQ((std::vector<int>{3, 1, 4, 1}), ids(list));
  EXPECT_EQ(3u, probes_[1]->refs);  // the test's own and two places
  EXPECT_EQ(2u, probes_[3]->refs);
  EXPECT_EQ(E_INVALIDARG, list->Append(nullptr));
  list.Release();
  // TearDown checks every probe is back to the test's own reference.
}

TEST_F(CollectionTest, GetAtOutsideTheListFails) {
  CComPtr<IktEnumDispatch> list = listOf({0, 1});
  for (LONG bad : {-1L, 2L, 1000L}) {
    IDispatch* item = probes_[4].get();  // must be overwritten with null
    EXPECT_EQ(DISP_E_BADINDEX, list->get_GetAt(bad, &item)) << bad;
    EXPECT_EQ(nullptr, item);
    EXPECT_EQ(DISP_E_BADINDEX, list->RemoveAt(bad));
    EXPECT_EQ(DISP_E_BADINDEX, list->SetAt(bad, probes_[2].get()));
  }
  EXPECT_EQ(E_POINTER, list->get_GetAt(0, nullptr));
  EXPECT_EQ((std::vector<int>{0, 1}), ids(list));
}

TEST_F(CollectionTest, NextSkipResetAndCurrentIndex) {
  CComPtr<IktEnumDispatch> list = listOf({0, 1, 2, 3, 4});
  IDispatch* got[3] = {};
  ULONG fetched = 99;
  LONG index = -1;

  EXPECT_EQ(S_OK, list->Next(2, got, &fetched));
  EXPECT_EQ(2u, fetched);
  EXPECT_EQ(0, static_cast<Probe*>(got[0])->id);
  EXPECT_EQ(1, static_cast<Probe*>(got[1])->id);
  EXPECT_EQ(3u, probes_[0]->refs);  // the test, the list and the reference Next handed out
  got[0]->Release();
  got[1]->Release();
  EXPECT_EQ(S_OK, list->get_CurrentIndex(&index));
  EXPECT_EQ(2, index);

  EXPECT_EQ(S_OK, list->Skip(2));
  EXPECT_EQ(S_FALSE, list->Next(3, got, &fetched));  // only item 4 is left
  EXPECT_EQ(1u, fetched);
  EXPECT_EQ(4, static_cast<Probe*>(got[0])->id);
  got[0]->Release();
  EXPECT_EQ(S_FALSE, list->Next(1, got, &fetched));
  EXPECT_EQ(0u, fetched);

  EXPECT_EQ(S_OK, list->Reset());
  EXPECT_EQ(S_FALSE, list->Skip(9));
  EXPECT_EQ(S_OK, list->get_CurrentIndex(&index));
  EXPECT_EQ(5, index);
  EXPECT_EQ(S_OK, list->Reset());
  EXPECT_EQ(S_OK, list->Next(1, got, nullptr));  // one item: the count may be left out
  EXPECT_EQ(0, static_cast<Probe*>(got[0])->id);
  got[0]->Release();
  EXPECT_EQ(E_INVALIDARG, list->Next(2, got, nullptr));
  EXPECT_EQ(E_POINTER, list->Next(1, nullptr, &fetched));
}

TEST_F(CollectionTest, CloneCopiesItemsAndCursorIndependently) {
  CComPtr<IktEnumDispatch> list = listOf({0, 1, 2});
  EXPECT_EQ(S_OK, list->Skip(1));
  CComPtr<IktEnumDispatch> copy;
  ASSERT_EQ(S_OK, list->Clone(copy.put()));
  LONG index = -1;
  EXPECT_EQ(S_OK, copy->get_CurrentIndex(&index));
  EXPECT_EQ(1, index);
  EXPECT_EQ(3u, probes_[0]->refs);  // held by both lists

  EXPECT_EQ(S_OK, copy->RemoveAt(0));
  EXPECT_EQ(S_OK, copy->Append(probes_[4].get()));
  EXPECT_EQ((std::vector<int>{0, 1, 2}), ids(list));
  EXPECT_EQ((std::vector<int>{1, 2, 4}), ids(copy));
  EXPECT_EQ(S_OK, list->get_CurrentIndex(&index));
  EXPECT_EQ(1, index);
}

TEST_F(CollectionTest, RemoveAtKeepsTheCursorOnTheSameItem) {
  struct Row {
    LONG cursorBefore, removed, cursorAfter;
  } rows[] = {{2, 0, 1}, {2, 1, 1}, {2, 2, 2}, {2, 4, 2}, {0, 0, 0}, {5, 4, 4}};
  for (const Row& r : rows) {
    CComPtr<IktEnumDispatch> list = listOf({0, 1, 2, 3, 4});
    EXPECT_EQ(S_OK, list->Skip(static_cast<ULONG>(r.cursorBefore)));
    EXPECT_EQ(S_OK, list->RemoveAt(r.removed));
    LONG index = -1, count = -1;
    EXPECT_EQ(S_OK, list->get_CurrentIndex(&index));
    EXPECT_EQ(r.cursorAfter, index) << "cursor " << r.cursorBefore << ", removed " << r.removed;
    EXPECT_EQ(S_OK, list->get_Count(&count));
    EXPECT_EQ(4, count);
    EXPECT_EQ(1u, probes_[static_cast<size_t>(r.removed)]->refs) << "the removed item is released";
  }
}

TEST_F(CollectionTest, SetAtReplacesAndRemoveAllEmpties) {
  CComPtr<IktEnumDispatch> list = listOf({0, 1, 2});
  EXPECT_EQ(S_OK, list->SetAt(1, probes_[3].get()));
  EXPECT_EQ((std::vector<int>{0, 3, 2}), ids(list));
  EXPECT_EQ(1u, probes_[1]->refs);
  EXPECT_EQ(2u, probes_[3]->refs);
  EXPECT_EQ(S_OK, list->SetAt(1, probes_[3].get()));  // the same item again
  EXPECT_EQ(2u, probes_[3]->refs);
  EXPECT_EQ(E_INVALIDARG, list->SetAt(0, nullptr));

  EXPECT_EQ(S_OK, list->Skip(2));
  EXPECT_EQ(S_OK, list->RemoveAll());
  LONG count = -1, index = -1;
  EXPECT_EQ(S_OK, list->get_Count(&count));
  EXPECT_EQ(0, count);
  EXPECT_EQ(S_OK, list->get_CurrentIndex(&index));
  EXPECT_EQ(0, index);
  for (auto& p : probes_) EXPECT_EQ(1u, p->refs);
}

TEST_F(CollectionTest, ReferenceCountsAndUnloading) {
  CComPtr<IktEnumDispatch> list = newCollection();
  ASSERT_TRUE(list);
  EXPECT_EQ(S_FALSE, Session::get().canUnloadNow());
  EXPECT_EQ(2u, list->AddRef());
  EXPECT_EQ(1u, list->Release());

  // Identity: IUnknown and IDispatch answer the same pointer every time.
  CComPtr<IUnknown> a, b;
  EXPECT_EQ(S_OK, list.QueryInterface(IID_IUnknown, a));
  EXPECT_EQ(S_OK, list.QueryInterface(IID_IDispatch, b));
  EXPECT_EQ(a.get(), b.get());
  CComPtr<IVRCalendar> wrong;
  EXPECT_EQ(E_NOINTERFACE, list.QueryInterface(IID_IVRCalendar, wrong));
  EXPECT_FALSE(wrong);
  a.Release();
  b.Release();
  list.Release();
  factory_.Release();
  EXPECT_EQ(S_OK, Session::get().canUnloadNow());

  // A lock keeps the server in use, as does a class factory itself.
  CComPtr<IClassFactory> cf;
  ASSERT_EQ(S_OK, Session::get().getClassObject(CLSID_ktEnumDispatch, IID_IClassFactory, cf.putVoid()));
  EXPECT_EQ(S_FALSE, Session::get().canUnloadNow());
  EXPECT_EQ(S_OK, cf->LockServer(1));
  cf.Release();
  EXPECT_EQ(S_FALSE, Session::get().canUnloadNow());
  ASSERT_EQ(S_OK, Session::get().getClassObject(CLSID_ktEnumDispatch, IID_IClassFactory, cf.putVoid()));
  EXPECT_EQ(S_OK, cf->LockServer(0));
  cf.Release();
  EXPECT_EQ(S_OK, Session::get().canUnloadNow());

  void* none = &none;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Session::get().getClassObject(IID_IVRCalendar, IID_IClassFactory, &none));
  EXPECT_EQ(nullptr, none);
}

}  // namespace
}  // namespace enginetest
