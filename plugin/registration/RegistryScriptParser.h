// Reads the text of a registry script:
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {clsid} = s 'Name'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Free'
//         }
//       }
//     }
//   }
//
// Tokens are separated by white space; a token in single quotes may contain
// spaces and braces ('' stands for one quote). "%NAME%" anywhere in a name or
// in data is replaced from the replacements ("%%" is a percent sign); this
// happens after tokenising, so a replacement may contain spaces or quotes.
// Only string data ("s") and the classes root are needed and supported.
#pragma once

#include <windows.h>

#include <string>

#include "plugin/registration/RegistryScript.h"

namespace registration {

class RegistryReplacements;

// Returned for a script that does not follow the grammar above or uses an
// unknown replacement.
constexpr HRESULT kRegistryScriptSyntaxError =
    HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

class RegistryScriptParser {
 public:
  RegistryScriptParser(const std::wstring& text,
                       const RegistryReplacements& replacements);

  RegistryScriptParser(const RegistryScriptParser&) = delete;
  RegistryScriptParser& operator=(const RegistryScriptParser&) = delete;

  HRESULT Parse(RegistryScript* script);

 private:
  struct Token {
    std::wstring text;
    bool quoted = false;
    bool Is(const wchar_t* word) const;
  };

  bool Next(Token* token);
  bool Peek(Token* token);
  bool ParseKeys(RegistryScriptKey* owner, RegistryScript* keys);
  bool ParseKey(Token first, RegistryScript* keys);
  bool ParseStringData(std::wstring* data);
  bool ParseName(const Token& token, std::wstring* name) const;
  bool Expand(const std::wstring& text, std::wstring* expanded) const;

  const std::wstring& m_text;
  const RegistryReplacements& m_replacements;
  size_t m_position = 0;
};

}  // namespace registration
