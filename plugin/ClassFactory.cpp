#include "plugin/ClassFactory.h"

#include <new>

HRESULT CClassFactory::CreateCached(CreateInstanceFunction createInstance,
                                    IUnknown** cached) {
  if (!cached) return E_POINTER;
  *cached = nullptr;
  auto* factory = new (std::nothrow) CClassFactory(createInstance);
  if (!factory) return E_OUTOFMEMORY;
  factory->AddRef();
  *cached = static_cast<IClassFactory*>(factory);
  return S_OK;
}

CClassFactory::CClassFactory(CreateInstanceFunction createInstance)
    : m_createInstance(createInstance) {}

CClassFactory::~CClassFactory() = default;

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

// The cache's reference does not lock the module; the first one beyond it
// does, until it is given back.
STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
  const LONG count = ++m_refCount;
  if (count == 2) Module().Lock();
  return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
  const LONG count = --m_refCount;
  if (count == 1) {
    Module().Unlock();
  } else if (count == 0) {
    delete this;
  }
  return static_cast<ULONG>(count);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID riid,
                                           void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregate hands out only its private IUnknown.
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  return m_createInstance(outer, riid, ppv);
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) {
  if (lock) {
    Module().Lock();
  } else {
    Module().Unlock();
  }
  return S_OK;
}
