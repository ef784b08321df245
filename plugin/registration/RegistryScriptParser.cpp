#include "plugin/registration/RegistryScriptParser.h"

#include <wchar.h>
#include <wctype.h>

#include <utility>

#include "plugin/registration/RegistryReplacements.h"

namespace registration {

bool RegistryScriptParser::Token::Is(const wchar_t* word) const {
  return !quoted && ::_wcsicmp(text.c_str(), word) == 0;
}

RegistryScriptParser::RegistryScriptParser(
    const std::wstring& text, const RegistryReplacements& replacements)
    : m_text(text), m_replacements(replacements) {}

HRESULT RegistryScriptParser::Parse(RegistryScript* script) {
  if (!script) return E_POINTER;
  script->clear();
  m_position = 0;
  Token root;
  while (Next(&root)) {
    if (!root.Is(L"HKCR") && !root.Is(L"HKEY_CLASSES_ROOT")) {
      return kRegistryScriptSyntaxError;
    }
    Token open;
    if (!Next(&open) || !open.Is(L"{") || !ParseKeys(nullptr, script)) {
      return kRegistryScriptSyntaxError;
    }
  }
  // Next() also stops at an unterminated quote; only the true end is fine.
  return m_position >= m_text.size() ? S_OK : kRegistryScriptSyntaxError;
}

bool RegistryScriptParser::Next(Token* token) {
  const size_t size = m_text.size();
  while (m_position < size && ::iswspace(m_text[m_position])) ++m_position;
  if (m_position >= size) return false;
  token->text.clear();
  token->quoted = m_text[m_position] == L'\'';
  if (!token->quoted) {
    while (m_position < size && !::iswspace(m_text[m_position])) {
      token->text += m_text[m_position++];
    }
    return true;
  }
  for (size_t at = m_position + 1; at < size; ++at) {
    if (m_text[at] != L'\'') {
      token->text += m_text[at];
    } else if (at + 1 < size && m_text[at + 1] == L'\'') {
      token->text += L'\'';
      ++at;
    } else {
      m_position = at + 1;
      return true;
    }
  }
  return false;  // unterminated: m_position stays before the quote
}

bool RegistryScriptParser::Peek(Token* token) {
  const size_t saved = m_position;
  const bool found = Next(token);
  m_position = saved;
  return found;
}

// Reads keys (and, inside a key, its named values) up to the closing brace.
bool RegistryScriptParser::ParseKeys(RegistryScriptKey* owner,
                                     RegistryScript* keys) {
  Token token;
  while (Next(&token)) {
    if (token.Is(L"}")) return true;
    if (owner && token.Is(L"val")) {
      RegistryScriptValue value;
      Token name;
      Token equals;
      if (!Next(&name) || !ParseName(name, &value.name) || !Next(&equals) ||
          !equals.Is(L"=") || !ParseStringData(&value.data)) {
        return false;
      }
      owner->values.push_back(std::move(value));
      continue;
    }
    if (!ParseKey(std::move(token), keys)) return false;
  }
  return false;  // the script ended inside a block
}

bool RegistryScriptParser::ParseKey(Token first, RegistryScript* keys) {
  RegistryScriptKey key;
  Token token = std::move(first);
  while (token.Is(L"NoRemove") || token.Is(L"ForceRemove")) {
    (token.Is(L"NoRemove") ? key.noRemove : key.forceRemove) = true;
    if (!Next(&token)) return false;
  }
  if (!ParseName(token, &key.name)) return false;
  Token next;
  if (Peek(&next) && next.Is(L"=")) {
    Next(&next);
    std::wstring data;
    if (!ParseStringData(&data)) return false;
    key.defaultValue = std::move(data);
  }
  if (Peek(&next) && next.Is(L"{")) {
    Next(&next);
    if (!ParseKeys(&key, &key.subkeys)) return false;
  }
  keys->push_back(std::move(key));
  return true;
}

bool RegistryScriptParser::ParseStringData(std::wstring* data) {
  Token type;
  Token text;
  if (!Next(&type) || !type.Is(L"s") || !Next(&text)) return false;
  if (text.Is(L"{") || text.Is(L"}") || text.Is(L"=")) return false;
  return Expand(text.text, data);
}

bool RegistryScriptParser::ParseName(const Token& token,
                                     std::wstring* name) const {
  if (token.Is(L"{") || token.Is(L"}") || token.Is(L"=")) return false;
  return Expand(token.text, name) && !name->empty();
}

bool RegistryScriptParser::Expand(const std::wstring& text,
                                  std::wstring* expanded) const {
  expanded->clear();
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != L'%') {
      *expanded += text[at];
      continue;
    }
    const size_t end = text.find(L'%', at + 1);
    if (end == std::wstring::npos) return false;
    if (end == at + 1) {
      *expanded += L'%';
    } else {
      const wchar_t* value =
          m_replacements.Find(text.substr(at + 1, end - at - 1));
      if (!value) return false;
      *expanded += value;
    }
    at = end;
  }
  return true;
}

}  // namespace registration
