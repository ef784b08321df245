// Runs a WQL query and keeps every result object, in the order returned.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <list>
#include <memory>

#include "common/wmi/WbemInstance.h"

namespace NTarn {

class CWbemInstanceList : public std::list<CWbemInstance> {
 public:
  // Borrows the caller's connection, which must outlive the list.
  explicit CWbemInstanceList(
      const Microsoft::WRL::ComPtr<IWbemServices>& services)
      : m_services(std::addressof(services)) {}
  virtual ~CWbemInstanceList() = default;

  // Appends the results of `query`, waiting at most kWbemCallTimeoutMs for
  // each. Raises HResultException when the query fails (for a
  // semisynchronous query: when its first object fails or never comes) or an
  // object comes back with a failure; results appended before that stay.
  void ExecQuery(const wchar_t* query, LONG flags);

 private:
  const Microsoft::WRL::ComPtr<IWbemServices>* m_services;
};

}  // namespace NTarn
