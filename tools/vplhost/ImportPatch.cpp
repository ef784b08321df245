#include "tools/vplhost/ImportPatch.h"

#include <cstring>

namespace vplhost {
namespace {

// The address table slot through which `module` calls `function` of
// `importedDll`; null when it imports no such function.
void** FindImportEntry(HMODULE module, const char* importedDll,
                       const char* function) {
  BYTE* const base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0 || imports.Size == 0) return nullptr;

  // A table whose names were dropped (no OriginalFirstThunk) is matched by
  // the address the loader bound, which is the exporting DLL's own.
  const HMODULE exporter = ::GetModuleHandleA(importedDll);
  const void* bound =
      exporter
          ? reinterpret_cast<const void*>(::GetProcAddress(exporter, function))
          : nullptr;

  for (auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           base + imports.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name),
                 importedDll) != 0) {
      continue;
    }
    auto* entries =
        reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
    const auto* names = descriptor->OriginalFirstThunk
                            ? reinterpret_cast<const IMAGE_THUNK_DATA*>(
                                  base + descriptor->OriginalFirstThunk)
                            : nullptr;
    for (size_t i = 0; entries[i].u1.Function != 0; ++i) {
      bool match = false;
      if (names && !IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) {
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
            base + names[i].u1.AddressOfData);
        match = std::strcmp(reinterpret_cast<const char*>(byName->Name),
                            function) == 0;
      } else if (bound) {
        match = reinterpret_cast<const void*>(entries[i].u1.Function) == bound;
      }
      if (match) return reinterpret_cast<void**>(&entries[i].u1.Function);
    }
  }
  return nullptr;
}

// The address table usually lies in read-only pages once the loader is done.
HRESULT WriteEntry(void** entry, void* value) {
  DWORD previous = 0;
  if (!::VirtualProtect(entry, sizeof(*entry), PAGE_READWRITE, &previous))
    return HRESULT_FROM_WIN32(::GetLastError());
  ::InterlockedExchangePointer(entry, value);
  DWORD ignored = 0;
  ::VirtualProtect(entry, sizeof(*entry), previous, &ignored);
  return S_OK;
}

}  // namespace

ImportPatch::~ImportPatch() { Restore(); }

HRESULT ImportPatch::Install(HMODULE module, const char* importedDll,
                             const char* function, void* replacement,
                             void** original) {
  if (!module || !importedDll || !function || !replacement || !original)
    return E_POINTER;
  if (m_entry) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
  void** const entry = FindImportEntry(module, importedDll, function);
  if (!entry) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  void* const current = *entry;
  const HRESULT hr = WriteEntry(entry, replacement);
  if (FAILED(hr)) return hr;
  m_entry = entry;
  m_original = current;
  *original = current;
  return S_OK;
}

void ImportPatch::Restore() {
  if (!m_entry) return;
  WriteEntry(m_entry, m_original);
  m_entry = nullptr;
  m_original = nullptr;
}

}  // namespace vplhost
