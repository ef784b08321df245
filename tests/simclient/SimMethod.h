// The simulated client's operations, as tests name them for counting calls
// and injecting failures.
#pragma once

namespace vpltest {

enum class SimMethod {
  kCreateLocator,     // class factory of the locator
  kConnectServer,     // IWbemLocator::ConnectServer
  kQueryBlanket,      // IClientSecurity::QueryBlanket (CoQueryProxyBlanket)
  kSetBlanket,        // IClientSecurity::SetBlanket (CoSetProxyBlanket)
  kExecQuery,         // IWbemServices::ExecQuery
  kGetObject,         // IWbemServices::GetObject
  kNext,              // IEnumWbemClassObject::Next
  kGet,               // IWbemClassObject::Get
  kCreateStatusText,  // class factory of the status-text object
  kGetErrorCodeText,  // IWbemStatusCodeText::GetErrorCodeText
  kCount
};

}  // namespace vpltest
