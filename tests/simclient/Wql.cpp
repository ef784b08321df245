#include "tests/simclient/Wql.h"

#include <wbemcli.h>

#include <cwctype>
#include <optional>

namespace vpltest::sim {

struct WqlOperand {
  enum class Kind { kProperty, kText, kInteger } kind = Kind::kText;
  std::wstring text;  // property name or text constant
  int64_t integer = 0;
};

struct WqlCondition {
  enum class Kind { kAnd, kOr, kNot, kCompare, kIsNull } kind = Kind::kCompare;
  std::shared_ptr<const WqlCondition> left;
  std::shared_ptr<const WqlCondition> right;
  WqlOperand first;
  WqlOperand second;
  std::wstring op;       // comparison operator
  bool negated = false;  // IS NOT NULL
};

namespace {

struct Token {
  enum class Kind { kWord, kText, kInteger, kSymbol, kEnd } kind = Kind::kEnd;
  std::wstring text;
  int64_t integer = 0;
};

class Lexer {
 public:
  explicit Lexer(const std::wstring& text) : m_text(text) {}

  bool Tokenize(std::vector<Token>& tokens) {
    for (;;) {
      while (m_pos < m_text.size() && std::iswspace(m_text[m_pos])) ++m_pos;
      Token token;
      if (m_pos >= m_text.size()) {
        tokens.push_back(token);
        return true;
      }
      const wchar_t c = m_text[m_pos];
      if (std::iswalpha(c) || c == L'_') {
        token.kind = Token::Kind::kWord;
        while (m_pos < m_text.size() &&
               (std::iswalnum(m_text[m_pos]) || m_text[m_pos] == L'_')) {
          token.text += m_text[m_pos++];
        }
      } else if (std::iswdigit(c) || (c == L'-' && m_pos + 1 < m_text.size() &&
                                      std::iswdigit(m_text[m_pos + 1]))) {
        token.kind = Token::Kind::kInteger;
        size_t start = m_pos++;
        while (m_pos < m_text.size() && std::iswdigit(m_text[m_pos])) ++m_pos;
        if (m_pos < m_text.size() &&
            (std::iswalpha(m_text[m_pos]) || m_text[m_pos] == L'_')) {
          return false;
        }
        try {
          token.integer = std::stoll(m_text.substr(start, m_pos - start));
        } catch (...) {
          return false;
        }
      } else if (c == L'\'' || c == L'"') {
        token.kind = Token::Kind::kText;
        ++m_pos;
        bool closed = false;
        while (m_pos < m_text.size()) {
          wchar_t ch = m_text[m_pos++];
          if (ch == L'\\' && m_pos < m_text.size()) {
            token.text += m_text[m_pos++];
          } else if (ch == c) {
            closed = true;
            break;
          } else {
            token.text += ch;
          }
        }
        if (!closed) return false;
      } else {
        token.kind = Token::Kind::kSymbol;
        static const wchar_t* const kSymbols[] = {L"<>", L"!=", L"<=", L">=",
                                                  L"=",  L"<",  L">",  L"(",
                                                  L")",  L",",  L"*"};
        for (const wchar_t* symbol : kSymbols) {
          if (m_text.compare(m_pos, std::wcslen(symbol), symbol) == 0) {
            token.text = symbol;
            break;
          }
        }
        if (token.text.empty()) return false;
        m_pos += token.text.size();
      }
      tokens.push_back(token);
    }
  }

 private:
  const std::wstring& m_text;
  size_t m_pos = 0;
};

bool IsKeyword(const Token& token, const wchar_t* word) {
  return token.kind == Token::Kind::kWord &&
         _wcsicmp(token.text.c_str(), word) == 0;
}

bool IsReserved(const Token& token) {
  static const wchar_t* const kReserved[] = {
      L"SELECT", L"FROM", L"WHERE", L"AND", L"OR", L"NOT", L"IS", L"NULL"};
  for (const wchar_t* word : kReserved) {
    if (IsKeyword(token, word)) return true;
  }
  return false;
}

bool IsSymbol(const Token& token, const wchar_t* symbol) {
  return token.kind == Token::Kind::kSymbol && token.text == symbol;
}

bool IsComparison(const Token& token) {
  static const wchar_t* const kOperators[] = {L"=", L"<>", L"!=", L"<",
                                              L">", L"<=", L">="};
  for (const wchar_t* op : kOperators) {
    if (IsSymbol(token, op)) return true;
  }
  return false;
}

using ConditionPtr = std::shared_ptr<const WqlCondition>;

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

  bool ParseQuery(std::wstring& className, std::vector<std::wstring>& selected,
                  ConditionPtr& where) {
    if (!IsKeyword(Next(), L"SELECT")) return false;
    if (IsSymbol(Peek(), L"*")) {
      Next();
    } else {
      do {
        const Token& name = Next();
        if (name.kind != Token::Kind::kWord || IsReserved(name)) return false;
        selected.push_back(name.text);
      } while (IsSymbol(Peek(), L",") && (Next(), true));
    }
    if (!IsKeyword(Next(), L"FROM")) return false;
    const Token& name = Next();
    if (name.kind != Token::Kind::kWord || IsReserved(name)) return false;
    className = name.text;
    if (IsKeyword(Peek(), L"WHERE")) {
      Next();
      where = ParseOr();
      if (!where) return false;
    }
    return Peek().kind == Token::Kind::kEnd;
  }

 private:
  const Token& Peek() const { return m_tokens[m_pos]; }
  const Token& Next() {
    const Token& token = m_tokens[m_pos];
    if (token.kind != Token::Kind::kEnd) ++m_pos;
    return token;
  }

  ConditionPtr Combine(WqlCondition::Kind kind, ConditionPtr left,
                       ConditionPtr right) {
    auto node = std::make_shared<WqlCondition>();
    node->kind = kind;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
  }

  ConditionPtr ParseOr() {
    ConditionPtr left = ParseAnd();
    while (left && IsKeyword(Peek(), L"OR")) {
      Next();
      ConditionPtr right = ParseAnd();
      if (!right) return nullptr;
      left = Combine(WqlCondition::Kind::kOr, left, right);
    }
    return left;
  }

  ConditionPtr ParseAnd() {
    ConditionPtr left = ParseUnary();
    while (left && IsKeyword(Peek(), L"AND")) {
      Next();
      ConditionPtr right = ParseUnary();
      if (!right) return nullptr;
      left = Combine(WqlCondition::Kind::kAnd, left, right);
    }
    return left;
  }

  ConditionPtr ParseUnary() {
    if (IsKeyword(Peek(), L"NOT")) {
      Next();
      ConditionPtr operand = ParseUnary();
      if (!operand) return nullptr;
      return Combine(WqlCondition::Kind::kNot, operand, nullptr);
    }
    if (IsSymbol(Peek(), L"(")) {
      Next();
      ConditionPtr inner = ParseOr();
      if (!inner || !IsSymbol(Next(), L")")) return nullptr;
      return inner;
    }
    return ParseComparison();
  }

  std::optional<WqlOperand> ParseOperand() {
    const Token& token = Next();
    WqlOperand operand;
    switch (token.kind) {
      case Token::Kind::kWord:
        if (IsReserved(token)) return std::nullopt;
        if (IsKeyword(token, L"TRUE") || IsKeyword(token, L"FALSE")) {
          operand.kind = WqlOperand::Kind::kInteger;
          operand.integer = IsKeyword(token, L"TRUE") ? 1 : 0;
        } else {
          operand.kind = WqlOperand::Kind::kProperty;
          operand.text = token.text;
        }
        return operand;
      case Token::Kind::kText:
        operand.kind = WqlOperand::Kind::kText;
        operand.text = token.text;
        return operand;
      case Token::Kind::kInteger:
        operand.kind = WqlOperand::Kind::kInteger;
        operand.integer = token.integer;
        return operand;
      default:
        return std::nullopt;
    }
  }

  ConditionPtr ParseComparison() {
    auto node = std::make_shared<WqlCondition>();
    std::optional<WqlOperand> first = ParseOperand();
    if (!first) return nullptr;
    node->first = *first;
    if (IsKeyword(Peek(), L"IS")) {
      Next();
      if (first->kind != WqlOperand::Kind::kProperty) return nullptr;
      node->kind = WqlCondition::Kind::kIsNull;
      if (IsKeyword(Peek(), L"NOT")) {
        Next();
        node->negated = true;
      }
      if (!IsKeyword(Next(), L"NULL")) return nullptr;
      return node;
    }
    if (!IsComparison(Peek())) return nullptr;
    node->op = Next().text;
    std::optional<WqlOperand> second = ParseOperand();
    if (!second) return nullptr;
    node->second = *second;
    // WMI compares a property with a constant, not two constants.
    if (first->kind != WqlOperand::Kind::kProperty &&
        second->kind != WqlOperand::Kind::kProperty) {
      return nullptr;
    }
    return node;
  }

  std::vector<Token> m_tokens;
  size_t m_pos = 0;
};

// A scalar read for comparison: text, number, or missing (null).
struct Scalar {
  enum class Kind { kNull, kText, kInteger } kind = Kind::kNull;
  std::wstring text;
  int64_t integer = 0;
};

Scalar Resolve(const WqlOperand& operand, const SimInstance& instance) {
  Scalar scalar;
  switch (operand.kind) {
    case WqlOperand::Kind::kText:
      scalar.kind = Scalar::Kind::kText;
      scalar.text = operand.text;
      return scalar;
    case WqlOperand::Kind::kInteger:
      scalar.kind = Scalar::Kind::kInteger;
      scalar.integer = operand.integer;
      return scalar;
    case WqlOperand::Kind::kProperty:
      break;
  }
  const SimValue* value = instance.Find(operand.text);
  if (!value || value->isNull || value->IsArray()) return scalar;
  if (KindOf(value->ElementType()) == ValueKind::kText) {
    scalar.kind = Scalar::Kind::kText;
    scalar.text = value->texts[0];
  } else if (KindOf(value->ElementType()) == ValueKind::kReal) {
    scalar.kind = Scalar::Kind::kInteger;
    scalar.integer = static_cast<int64_t>(value->reals[0]);
  } else {
    scalar.kind = Scalar::Kind::kInteger;
    scalar.integer = value->numbers[0];
  }
  return scalar;
}

bool ToInteger(const Scalar& scalar, int64_t& out) {
  if (scalar.kind == Scalar::Kind::kInteger) {
    out = scalar.integer;
    return true;
  }
  try {
    size_t used = 0;
    out = std::stoll(scalar.text, &used);
    return used == scalar.text.size();
  } catch (...) {
    return false;
  }
}

bool Compare(const Scalar& a, const Scalar& b, const std::wstring& op) {
  if (a.kind == Scalar::Kind::kNull || b.kind == Scalar::Kind::kNull) {
    return false;
  }
  int order = 0;
  if (a.kind == Scalar::Kind::kText && b.kind == Scalar::Kind::kText) {
    // WQL compares texts without regard to case.
    order = _wcsicmp(a.text.c_str(), b.text.c_str());
  } else {
    int64_t x = 0;
    int64_t y = 0;
    if (!ToInteger(a, x) || !ToInteger(b, y)) return false;
    order = x < y ? -1 : (x > y ? 1 : 0);
  }
  if (op == L"=") return order == 0;
  if (op == L"<>" || op == L"!=") return order != 0;
  if (op == L"<") return order < 0;
  if (op == L">") return order > 0;
  if (op == L"<=") return order <= 0;
  return order >= 0;
}

bool Evaluate(const WqlCondition& condition, const SimInstance& instance) {
  switch (condition.kind) {
    case WqlCondition::Kind::kAnd:
      return Evaluate(*condition.left, instance) &&
             Evaluate(*condition.right, instance);
    case WqlCondition::Kind::kOr:
      return Evaluate(*condition.left, instance) ||
             Evaluate(*condition.right, instance);
    case WqlCondition::Kind::kNot:
      return !Evaluate(*condition.left, instance);
    case WqlCondition::Kind::kIsNull: {
      const SimValue* value = instance.Find(condition.first.text);
      const bool isNull = !value || value->isNull;
      return condition.negated ? !isNull : isNull;
    }
    case WqlCondition::Kind::kCompare:
      return Compare(Resolve(condition.first, instance),
                     Resolve(condition.second, instance), condition.op);
  }
  return false;
}

void CollectProperties(const WqlCondition* condition,
                       std::vector<std::wstring>& names) {
  if (!condition) return;
  CollectProperties(condition->left.get(), names);
  CollectProperties(condition->right.get(), names);
  if (condition->first.kind == WqlOperand::Kind::kProperty) {
    names.push_back(condition->first.text);
  }
  if (condition->kind == WqlCondition::Kind::kCompare &&
      condition->second.kind == WqlOperand::Kind::kProperty) {
    names.push_back(condition->second.text);
  }
}

bool IsProperty(const WqlOperand& operand, const std::wstring& property) {
  return operand.kind == WqlOperand::Kind::kProperty &&
         _wcsicmp(operand.text.c_str(), property.c_str()) == 0;
}

std::optional<std::wstring> RequiredTextOf(const WqlCondition* condition,
                                           const std::wstring& property) {
  if (!condition) return std::nullopt;
  if (condition->kind == WqlCondition::Kind::kAnd) {
    if (auto text = RequiredTextOf(condition->left.get(), property))
      return text;
    return RequiredTextOf(condition->right.get(), property);
  }
  if (condition->kind != WqlCondition::Kind::kCompare || condition->op != L"=")
    return std::nullopt;
  if (IsProperty(condition->first, property) &&
      condition->second.kind == WqlOperand::Kind::kText) {
    return condition->second.text;
  }
  if (IsProperty(condition->second, property) &&
      condition->first.kind == WqlOperand::Kind::kText) {
    return condition->first.text;
  }
  return std::nullopt;
}

}  // namespace

HRESULT WqlQuery::Parse(const std::wstring& text, WqlQuery& query) {
  std::vector<Token> tokens;
  if (!Lexer(text).Tokenize(tokens)) return WBEM_E_INVALID_QUERY;
  WqlQuery parsed;
  if (!Parser(std::move(tokens))
           .ParseQuery(parsed.m_className, parsed.m_selected, parsed.m_where)) {
    return WBEM_E_INVALID_QUERY;
  }
  query = std::move(parsed);
  return S_OK;
}

std::vector<std::wstring> WqlQuery::ReferencedProperties() const {
  std::vector<std::wstring> names = m_selected;
  CollectProperties(m_where.get(), names);
  return names;
}

bool WqlQuery::Matches(const SimInstance& instance) const {
  return !m_where || Evaluate(*m_where, instance);
}

std::optional<std::wstring> WqlQuery::RequiredText(
    const std::wstring& property) const {
  return RequiredTextOf(m_where.get(), property);
}

std::vector<const SimInstance*> WqlQuery::Select(
    const SimClass& simClass) const {
  std::vector<const SimInstance*> selected;
  const SimKeyIndex& index = simClass.keyIndex;
  const std::optional<std::wstring> key =
      index.IsUsable() ? RequiredText(index.Property()) : std::nullopt;
  if (key) {
    // The rest of the condition still applies to the key's instances.
    for (size_t position : index.Find(*key)) {
      const SimInstance& instance = simClass.instances[position];
      if (Matches(instance)) selected.push_back(&instance);
    }
    return selected;
  }
  for (const SimInstance& instance : simClass.instances) {
    if (Matches(instance)) selected.push_back(&instance);
  }
  return selected;
}

}  // namespace vpltest::sim
