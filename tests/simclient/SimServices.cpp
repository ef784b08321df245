#include "tests/simclient/SimServices.h"

#include <algorithm>
#include <optional>
#include <string>

#include "tests/simclient/Schema.h"
#include "tests/simclient/SimCallResult.h"
#include "tests/simclient/SimClassObject.h"
#include "tests/simclient/SimEnumerator.h"
#include "tests/simclient/Wql.h"

namespace vpltest::sim {
namespace {

// A property a query on `className` may name: one the schema gives the
// class, or one any instance it reaches carries. Classes outside the schema
// with no instances accept any.
bool ClassHasProperty(const std::wstring& className,
                      const std::vector<const SimClass*>& reached,
                      const std::wstring& property) {
  CIMTYPE type;
  if (SchemaPropertyType(className, property, type)) return true;
  bool anyProperties = false;
  for (const SimClass* simClass : reached) {
    for (const SimInstance& instance : simClass->instances) {
      if (instance.Find(property)) return true;
      anyProperties = anyProperties || !instance.properties.empty();
    }
  }
  return !SchemaHasClass(className) && !anyProperties;
}

std::wstring Text(const BSTR value) { return value ? value : L""; }

// Parses "Class=@" and "Class.Key=value" ('', "" or a number).
bool ParseObjectPath(const std::wstring& path, std::wstring& className,
                     std::wstring& key, std::wstring& keyValue,
                     bool& singleton) {
  const size_t equals = path.find(L'=');
  singleton = false;
  if (equals == std::wstring::npos) return false;
  if (path.compare(equals, std::wstring::npos, L"=@") == 0) {
    className = path.substr(0, equals);
    singleton = true;
    return !className.empty();
  }
  const size_t dot = path.find(L'.');
  if (dot == std::wstring::npos || dot > equals) return false;
  className = path.substr(0, dot);
  key = path.substr(dot + 1, equals - dot - 1);
  keyValue = path.substr(equals + 1);
  if (keyValue.size() >= 2 &&
      (keyValue.front() == L'"' || keyValue.front() == L'\'') &&
      keyValue.back() == keyValue.front()) {
    keyValue = keyValue.substr(1, keyValue.size() - 2);
  }
  return !className.empty() && !key.empty();
}

// The first instance whose `key` reads as `keyValue`, walking them all.
const SimInstance* FindByKey(const SimClass& simClass, const std::wstring& key,
                             const std::wstring& keyValue) {
  for (const SimInstance& instance : simClass.instances) {
    const SimValue* value = instance.Find(key);
    if (!value || value->isNull || value->IsArray()) continue;
    const std::wstring text =
        KindOf(value->ElementType()) == ValueKind::kText
            ? value->texts[0]
            : std::to_wstring(value->numbers.empty() ? 0 : value->numbers[0]);
    if (_wcsicmp(text.c_str(), keyValue.c_str()) == 0) return &instance;
  }
  return nullptr;
}

// What an injected fault makes of one call: a failure, a hang or nothing.
struct CallFault {
  explicit CallFault(const std::optional<InjectedFailure>& injected)
      : fails(injected && !injected->hangMs),
        hr(fails ? injected->hr : S_OK),
        description(injected ? injected->description : std::wstring()),
        hangMs(injected ? injected->hangMs : 0) {}
  // The provider's later answer to a semisynchronous call that found `found`.
  DeferredAnswer Later(HRESULT found) const {
    return DeferredAnswer(found, description, hangMs);
  }

  bool fails;
  HRESULT hr;
  std::wstring description;
  DWORD hangMs;
};

}  // namespace

SimServices::SimServices(std::shared_ptr<SimState> state,
                         const SimNamespace* wmiNamespace)
    : m_state(std::move(state)), m_namespace(wmiNamespace) {}

HRESULT SimServices::RunQuery(const BSTR language, const BSTR query,
                              std::vector<SimInstance>& results,
                              std::vector<std::wstring>& selected) const {
  if (!language || _wcsicmp(language, L"WQL") != 0) {
    return WBEM_E_INVALID_QUERY_TYPE;
  }
  WqlQuery parsed;
  HRESULT hr = WqlQuery::Parse(query, parsed);
  if (FAILED(hr)) return hr;
  // Deep, as WMI's queries are: a class's subclasses answer too.
  const std::vector<const SimClass*> reached =
      m_namespace->FindClassAndSubclasses(parsed.ClassName());
  if (reached.empty()) return WBEM_E_INVALID_CLASS;
  for (const std::wstring& property : parsed.ReferencedProperties()) {
    if (!ClassHasProperty(parsed.ClassName(), reached, property))
      return WBEM_E_INVALID_QUERY;
  }
  for (const SimClass* simClass : reached) {
    for (const SimInstance* instance : parsed.Select(*simClass)) {
      results.push_back(*instance);
    }
  }
  selected = parsed.SelectedProperties();
  return S_OK;
}

HRESULT SimServices::FindObject(const BSTR path,
                                const SimInstance*& found) const {
  found = nullptr;
  std::wstring className, key, keyValue;
  bool singleton = false;
  if (!path || !ParseObjectPath(path, className, key, keyValue, singleton)) {
    return WBEM_E_INVALID_OBJECT_PATH;
  }
  // A path on a class finds instances of its subclasses too.
  const std::vector<const SimClass*> reached =
      m_namespace->FindClassAndSubclasses(className);
  if (reached.empty()) return WBEM_E_INVALID_CLASS;
  for (const SimClass* simClass : reached) {
    if (found) break;
    const SimKeyIndex& index = simClass->keyIndex;
    if (singleton) {
      if (!simClass->instances.empty()) found = &simClass->instances.front();
    } else if (index.IsUsable() &&
               _wcsicmp(key.c_str(), index.Property().c_str()) == 0) {
      const std::vector<size_t>& positions = index.Find(keyValue);
      if (!positions.empty()) found = &simClass->instances[positions.front()];
    } else {
      found = FindByKey(*simClass, key, keyValue);
    }
  }
  if (!found) return WBEM_E_NOT_FOUND;
  return S_OK;
}

// A synchronous call returns once the provider has answered, failure and
// all; a semisynchronous one (WBEM_FLAG_RETURN_IMMEDIATELY) returns at once
// and hands the hang and the failure to its enumerator or call result.
STDMETHODIMP SimServices::ExecQuery(const BSTR language, const BSTR query,
                                    LONG flags, IWbemContext* /*context*/,
                                    IEnumWbemClassObject** enumerator) {
  m_state->Record([&](Recorded& recorded) {
    recorded.queryLanguage = Text(language);
    recorded.query = Text(query);
    recorded.queryFlags = flags;
  });
  if (enumerator) *enumerator = nullptr;
  const bool immediate = (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0;
  const CallFault fault(m_state->Enter(SimMethod::kExecQuery, immediate));
  if (fault.fails && !immediate) return fault.hr;
  if (!enumerator || !query) return WBEM_E_INVALID_PARAMETER;

  HRESULT hr = fault.hr;
  std::vector<SimInstance> results;
  std::vector<std::wstring> selected;
  if (SUCCEEDED(hr)) hr = RunQuery(language, query, results, selected);
  const bool forwardOnly = (flags & WBEM_FLAG_FORWARD_ONLY) != 0;
  if (immediate) {
    *enumerator =
        new SimEnumerator(m_state, std::move(results), std::move(selected),
                          forwardOnly, fault.Later(hr));
    return S_OK;
  }
  if (fault.hangMs) m_state->Wait(fault.hangMs);
  if (FAILED(hr)) return hr;
  *enumerator = new SimEnumerator(m_state, std::move(results),
                                  std::move(selected), forwardOnly);
  return S_OK;
}

STDMETHODIMP SimServices::GetObject(const BSTR path, LONG flags,
                                    IWbemContext* /*context*/,
                                    IWbemClassObject** object,
                                    IWbemCallResult** callResult) {
  m_state->Record(
      [&](Recorded& recorded) { recorded.objectPath = Text(path); });
  if (object) *object = nullptr;
  if (callResult) *callResult = nullptr;
  const bool immediate = (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0;
  const CallFault fault(m_state->Enter(SimMethod::kGetObject, immediate));
  if (fault.fails && !immediate) return fault.hr;
  // The object of a semisynchronous read comes only from its call result.
  if (immediate && (object || !callResult)) return WBEM_E_INVALID_PARAMETER;

  HRESULT hr = fault.hr;
  const SimInstance* found = nullptr;
  if (SUCCEEDED(hr)) hr = FindObject(path, found);
  if (immediate) {
    *callResult = new SimCallResult(m_state, found, fault.Later(hr));
    return S_OK;
  }
  if (fault.hangMs) m_state->Wait(fault.hangMs);
  if (FAILED(hr)) return hr;
  if (object) *object = new SimClassObject(m_state, *found, {});
  return S_OK;
}

STDMETHODIMP SimServices::QueryBlanket(IUnknown* /*proxy*/,
                                       DWORD* authenticationService,
                                       DWORD* authorisationService,
                                       OLECHAR** principal,
                                       DWORD* authenticationLevel,
                                       DWORD* impersonationLevel,
                                       void** identity, DWORD* capabilities) {
  if (const auto failure = m_state->Enter(SimMethod::kQueryBlanket)) {
    return failure->hr;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (authenticationService)
    *authenticationService = m_blanket.authenticationService;
  if (authorisationService)
    *authorisationService = m_blanket.authorisationService;
  if (principal) *principal = nullptr;
  if (authenticationLevel) *authenticationLevel = m_blanket.authenticationLevel;
  if (impersonationLevel) *impersonationLevel = m_blanket.impersonationLevel;
  if (identity) *identity = nullptr;
  if (capabilities) *capabilities = m_blanket.capabilities;
  return S_OK;
}

STDMETHODIMP SimServices::SetBlanket(IUnknown* /*proxy*/,
                                     DWORD authenticationService,
                                     DWORD authorisationService,
                                     OLECHAR* /*principal*/,
                                     DWORD authenticationLevel,
                                     DWORD impersonationLevel, void* identity,
                                     DWORD capabilities) {
  if (const auto failure = m_state->Enter(SimMethod::kSetBlanket)) {
    return failure->hr;
  }
  Blanket blanket;
  blanket.authenticationService = authenticationService;
  blanket.authorisationService = authorisationService;
  blanket.authenticationLevel = authenticationLevel;
  blanket.impersonationLevel = impersonationLevel;
  blanket.capabilities = capabilities;
  blanket.hadIdentity = identity != nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blanket = blanket;
  }
  m_state->Record([&](Recorded& recorded) { recorded.blanket = blanket; });
  return S_OK;
}

}  // namespace vpltest::sim
