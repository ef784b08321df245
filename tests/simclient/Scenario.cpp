#include "tests/simclient/Scenario.h"

#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/simclient/Schema.h"

namespace vpltest::sim {
namespace {

using Json = nlohmann::json;

// Properties PowerShell adds to every object it converts; not WMI data.
const char* const kPowerShellKeys[] = {"PSComputerName", "CimClass",
                                       "CimInstanceProperties",
                                       "CimSystemProperties"};

class Parser {
 public:
  explicit Parser(std::string source) : m_source(std::move(source)) {}

  [[noreturn]] void Fail(const std::string& where, const std::string& problem) {
    throw ScenarioError(m_source + ": at " + where + ": " + problem);
  }

  SimValue ParseValue(const Json& json, const std::wstring& className,
                      const std::string& property, const std::string& where) {
    // Windows PowerShell 5.1 writes a date as {"value": "/Date(ms)/",
    // "DisplayHint": 2, "DateTime": "<long text>"}.
    if (json.is_object() && !json.contains("cimType") &&
        json.contains("value") && json.contains("DateTime")) {
      return ParseValue(json["value"], className, property, where);
    }
    if (json.is_object()) {
      if (!json.contains("cimType") || !json["cimType"].is_string()) {
        Fail(where, "an object value needs a \"cimType\" text and a \"value\"");
      }
      CIMTYPE type;
      if (!ParseCimTypeName(json["cimType"].get<std::string>(), type)) {
        Fail(where,
             "unknown CIM type \"" + json["cimType"].get<std::string>() + "\"");
      }
      return Convert(json.contains("value") ? json["value"] : Json(), type,
                     where);
    }
    CIMTYPE type;
    if (!SchemaPropertyType(className, Utf8ToWide(property), type)) {
      type = InferType(json, where);
    }
    return Convert(json, type, where);
  }

 private:
  CIMTYPE InferType(const Json& json, const std::string& where) {
    if (json.is_array()) {
      if (json.empty()) return CIM_STRING | CIM_FLAG_ARRAY;
      return InferType(json.front(), where + "/0") | CIM_FLAG_ARRAY;
    }
    if (json.is_boolean()) return CIM_BOOLEAN;
    if (json.is_number_integer()) {
      const bool fits = json.is_number_unsigned()
                            ? json.get<uint64_t>() <= INT32_MAX
                            : json.get<int64_t>() >= INT32_MIN &&
                                  json.get<int64_t>() <= INT32_MAX;
      return fits ? CIM_SINT32 : CIM_SINT64;
    }
    if (json.is_number_float()) return CIM_REAL64;
    if (json.is_string() || json.is_null()) return CIM_STRING;
    Fail(where, "unsupported value");
  }

  SimValue Convert(const Json& json, CIMTYPE type, const std::string& where) {
    SimValue value;
    value.cimType = type;
    if (json.is_null()) return value;
    value.isNull = false;
    if (value.IsArray()) {
      if (!json.is_array()) Fail(where, "expected an array");
      for (size_t i = 0; i < json.size(); ++i) {
        AddElement(value, json[i], where + "/" + std::to_string(i));
      }
    } else {
      if (json.is_array()) Fail(where, "expected a single value, not an array");
      AddElement(value, json, where);
    }
    return value;
  }

  void AddElement(SimValue& value, const Json& json, const std::string& where) {
    const CIMTYPE type = value.ElementType();
    switch (KindOf(type)) {
      case ValueKind::kBoolean:
        if (json.is_boolean()) {
          value.numbers.push_back(json.get<bool>() ? 1 : 0);
        } else if (json.is_number_integer()) {
          value.numbers.push_back(json.get<int64_t>() != 0 ? 1 : 0);
        } else {
          Fail(where, "expected a boolean");
        }
        return;
      case ValueKind::kInteger: {
        if (!json.is_number_integer()) Fail(where, "expected an integer");
        const int64_t number = json.get<int64_t>();
        int64_t low = 0;
        int64_t high = 0;
        IntegerRange(type, low, high);
        if ((json.is_number_unsigned() &&
             json.get<uint64_t>() > uint64_t(high)) ||
            number < low || number > high) {
          Fail(where, "integer out of range for its CIM type");
        }
        value.numbers.push_back(number);
        return;
      }
      case ValueKind::kReal:
        if (!json.is_number()) Fail(where, "expected a number");
        value.reals.push_back(json.get<double>());
        return;
      case ValueKind::kText:
        break;
    }
    if (type == CIM_SINT64 || type == CIM_UINT64) {
      if (json.is_number_integer()) {
        value.texts.push_back(Utf8ToWide(json.dump()));
        return;
      }
    }
    if (!json.is_string()) Fail(where, "expected a text");
    std::string text = json.get<std::string>();
    if (type == CIM_DATETIME) text = ToCimDateTime(text, where);
    value.texts.push_back(Utf8ToWide(text));
  }

  static void IntegerRange(CIMTYPE type, int64_t& low, int64_t& high) {
    switch (type) {
      case CIM_SINT8:
        low = -128;
        high = 127;
        return;
      case CIM_UINT8:
        low = 0;
        high = 255;
        return;
      case CIM_SINT16:
        low = -32768;
        high = 32767;
        return;
      case CIM_UINT16:
      case CIM_CHAR16:
        low = 0;
        high = 65535;
        return;
      case CIM_SINT32:
        low = INT32_MIN;
        high = INT32_MAX;
        return;
      default:
        low = 0;
        high = UINT32_MAX;
        return;
    }
  }

  std::string ToCimDateTime(const std::string& text, const std::string& where) {
    static const std::regex kCim(R"(\d{14}\.\d{6}[+-]\d{3})");
    static const std::regex kIso(
        R"((\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?(Z|[+-]\d{2}:\d{2})?)");
    static const std::regex kMsDate(R"(/Date\((-?\d+)\)/)");
    static const std::regex kFromNow(R"(now([+-]\d{1,6}))");
    std::smatch match;
    if (std::regex_match(text, kCim)) return text;
    if (std::regex_match(text, match, kFromNow)) {
      // Minutes from the moment the scenario is read, in local clock digits
      // as the client writes its times: a sample that stays as far ahead.
      const __time64_t at = _time64(nullptr) + 60LL * std::stoi(match[1].str());
      tm local{};
      if (_localtime64_s(&local, &at) != 0) Fail(where, "date out of range");
      char buffer[40];
      snprintf(buffer, sizeof(buffer), "%04d%02d%02d%02d%02d%02d.000000+000",
               local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
               local.tm_hour, local.tm_min, local.tm_sec);
      return buffer;
    }
    if (std::regex_match(text, match, kIso)) {
      std::string fraction = match[7].str();
      fraction = (fraction + "000000").substr(0, 6);
      int offset = 0;
      const std::string zone = match[8].str();
      if (zone.size() == 6) {
        offset =
            std::stoi(zone.substr(1, 2)) * 60 + std::stoi(zone.substr(4, 2));
        if (zone[0] == '-') offset = -offset;
      }
      char buffer[40];
      snprintf(buffer, sizeof(buffer), "%s%s%s%s%s%s.%s%c%03d",
               match[1].str().c_str(), match[2].str().c_str(),
               match[3].str().c_str(), match[4].str().c_str(),
               match[5].str().c_str(), match[6].str().c_str(), fraction.c_str(),
               offset < 0 ? '-' : '+', offset < 0 ? -offset : offset);
      return buffer;
    }
    if (std::regex_match(text, match, kMsDate)) {
      // Milliseconds since 1970 in UTC.
      const long long ms = std::stoll(match[1].str());
      const ULONGLONG ticks =
          static_cast<ULONGLONG>(ms * 10000 + 116444736000000000LL);
      FILETIME fileTime{static_cast<DWORD>(ticks),
                        static_cast<DWORD>(ticks >> 32)};
      SYSTEMTIME utc{};
      if (!::FileTimeToSystemTime(&fileTime, &utc))
        Fail(where, "date out of range");
      char buffer[40];
      snprintf(buffer, sizeof(buffer), "%04u%02u%02u%02u%02u%02u.%03u000+000",
               utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
               utc.wSecond, utc.wMilliseconds);
      return buffer;
    }
    Fail(where, "\"" + text +
                    "\" is not a date (CIM_DATETIME, ISO 8601, /Date(ms)/ "
                    "or now+MINUTES)");
  }

  std::string m_source;
};

std::string Pointer(const std::string& base, const std::string& key) {
  return base + "/" + key;
}

std::string LineAndColumn(const std::string& text, size_t byteOffset) {
  size_t line = 1;
  size_t column = 1;
  for (size_t i = 0; i + 1 < byteOffset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// A registry value: a text, or a number that fits a REG_DWORD.
RegistryValue ParseRegistryValue(Parser& parser, const Json& json,
                                 const std::wstring& key,
                                 const std::string& name,
                                 const std::string& where) {
  RegistryValue value;
  value.key = key;
  value.name = Utf8ToWide(name);
  if (json.is_string()) {
    value.text = Utf8ToWide(json.get<std::string>());
  } else if (json.is_number_unsigned() && json.get<uint64_t>() <= UINT32_MAX) {
    value.number = static_cast<unsigned long>(json.get<uint64_t>());
  } else if (json.is_number_integer() && json.get<int64_t>() >= 0 &&
             json.get<int64_t>() <= UINT32_MAX) {
    value.number = static_cast<unsigned long>(json.get<int64_t>());
  } else {
    parser.Fail(where, "expected a text or a number from 0 to 4294967295");
  }
  return value;
}

void ParseRegistryKey(Parser& parser, const Json& values,
                      const std::string& keyName, const std::string& where,
                      std::vector<RegistryValue>& into) {
  if (!values.is_object()) parser.Fail(where, "expected an object of values");
  const std::wstring key = Utf8ToWide(keyName);
  if (key.empty()) parser.Fail(where, "empty key name");
  for (auto item = values.begin(); item != values.end(); ++item) {
    into.push_back(ParseRegistryValue(parser, item.value(), key, item.key(),
                                      Pointer(where, item.key())));
  }
}

HostFacts ParseHostFacts(Parser& parser, const Json& host) {
  if (!host.is_object()) parser.Fail("/host", "expected an object");
  HostFacts facts;
  for (auto item = host.begin(); item != host.end(); ++item) {
    const std::string where = Pointer("/host", item.key());
    const Json& value = item.value();
    if (item.key() == "idleMilliseconds") {
      if (!value.is_number_unsigned() || value.get<uint64_t>() > UINT32_MAX)
        parser.Fail(where, "expected a number from 0 to 4294967295");
      facts.idleMilliseconds =
          static_cast<unsigned long>(value.get<uint64_t>());
    } else if (item.key() == "portable") {
      if (!value.is_boolean()) parser.Fail(where, "expected true or false");
      facts.portable = value.get<bool>();
    } else if (item.key() == "battery") {
      const std::string state =
          value.is_string() ? value.get<std::string>() : "";
      if (state == "ac") {
        facts.battery = HostFacts::Battery::kAc;
      } else if (state == "discharging") {
        facts.battery = HostFacts::Battery::kDischarging;
      } else if (state == "none") {
        facts.battery = HostFacts::Battery::kNone;
      } else {
        parser.Fail(where, "expected \"ac\", \"discharging\" or \"none\"");
      }
    } else {
      parser.Fail(where, "unknown key");
    }
  }
  return facts;
}

bool IsPowerShellKey(const std::string& key) {
  for (const char* known : kPowerShellKeys) {
    if (key == known) return true;
  }
  return false;
}

// A scenario file's bytes as UTF-8 text: UTF-8 with or without its
// byte-order mark, or UTF-16 LE with one (what Windows PowerShell 5.1's ">"
// writes). Anything else is refused with what to do about it.
std::string ScenarioText(const std::string& bytes, const std::string& path) {
  const auto startsWith = [&bytes](const char* mark) {
    return bytes.rfind(mark, 0) == 0;
  };
  if (startsWith("\xFF\xFE")) {
    if (bytes.size() % 2 != 0)
      throw ScenarioError(path + ": UTF-16 text with an odd number of bytes");
    std::wstring wide((bytes.size() - 2) / 2, L'\0');
    for (size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<wchar_t>(
          static_cast<unsigned char>(bytes[2 + 2 * i]) |
          static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
    }
    return WideToUtf8(wide);
  }
  const char* const kRewrite =
      "; save it as UTF-8 (or UTF-16 LE with a byte-order mark)";
  if (startsWith("\xFE\xFF"))
    throw ScenarioError(path + ": UTF-16 big-endian text" + kRewrite);
  const std::string text = startsWith("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
  if (text.find('\0') != std::string::npos)
    throw ScenarioError(path + ": UTF-16 text without a byte-order mark" +
                        kRewrite);
  if (!text.empty() &&
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                            static_cast<int>(text.size()), nullptr, 0) == 0)
    throw ScenarioError(path + ": not UTF-8 text (an ANSI code page?)" +
                        kRewrite);
  return text;
}

// The system's text for `error`, then its number: "Access denied. (error
// 5)".
std::string SystemErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::unique_ptr<wchar_t, HLOCAL (*)(HLOCAL)> owner(text, &::LocalFree);
  std::wstring message = length ? std::wstring(text, length) : L"";
  while (!message.empty() && std::iswspace(message.back())) message.pop_back();
  const std::string number = "error " + std::to_string(error);
  return message.empty() ? number : WideToUtf8(message) + " (" + number + ")";
}

struct FileCloser {
  void operator()(HANDLE file) const { ::CloseHandle(file); }
};

// The bytes of the file at `path`; the error names the file (`name`) and
// why it cannot be opened or read.
std::string ReadScenarioFile(const std::wstring& path,
                             const std::string& name) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    throw ScenarioError(name +
                        ": cannot be opened: it is a folder, not a file");
  const HANDLE opened =
      ::CreateFileW(path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE)
    throw ScenarioError(
        name + ": cannot be opened: " + SystemErrorText(::GetLastError()));
  const std::unique_ptr<void, FileCloser> file(opened);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(opened, buffer, sizeof(buffer), &read, nullptr))
      throw ScenarioError(
          name + ": cannot be read: " + SystemErrorText(::GetLastError()));
    if (read == 0) return bytes;
    bytes.append(buffer, read);
  }
}

// Deeper than any scenario needs; see Scenario::Parse.
constexpr int kMaxNesting = 64;

// The class an instance belongs to: the one it names (WMI's "__CLASS", or
// the class name PowerShell records) when it is the listing class or one
// derived from it, else the listing class.
std::wstring OwnClassName(Parser& parser, const Json& instance,
                          const std::wstring& listedUnder,
                          const std::string& where) {
  const Json* named = nullptr;
  if (instance.contains("__CLASS")) {
    named = &instance["__CLASS"];
  } else if (instance.contains("CimSystemProperties") &&
             instance["CimSystemProperties"].is_object() &&
             instance["CimSystemProperties"].contains("ClassName")) {
    named = &instance["CimSystemProperties"]["ClassName"];
  }
  if (!named) return listedUnder;
  if (!named->is_string()) parser.Fail(where, "a class name must be a text");
  const std::wstring own = Utf8ToWide(named->get<std::string>());
  if (!SchemaDerivesFrom(own, listedUnder)) {
    parser.Fail(where, "class \"" + named->get<std::string>() + "\" is not \"" +
                           WideToUtf8(listedUnder) +
                           "\" or a class derived from it");
  }
  return own;
}

SimClass& AddClass(SimNamespace& target, const std::wstring& className) {
  SimClass& simClass = target.classes[ToLower(className)];
  if (simClass.name.empty()) simClass.name = className;
  return simClass;
}

// The key values of one namespace's instances, by the class at the top of
// their chain, as WMI holds one instance for each: a repeated key is a
// scenario error. Instances lacking a key (or holding NULL) are not checked.
class KeyRegister {
 public:
  explicit KeyRegister(Parser& parser) : m_parser(parser) {}

  void Add(const SimInstance& instance, const std::string& where) {
    const std::vector<std::wstring> keys =
        SchemaKeyProperties(instance.className);
    if (keys.empty()) return;
    std::wstring root = instance.className;
    for (std::wstring up = SchemaSuperclass(root); !up.empty();
         up = SchemaSuperclass(root))
      root = up;
    std::wstring values = ToLower(root);
    for (const std::wstring& key : keys) {
      const SimValue* value = instance.Find(key);
      if (!value || value->isNull || value->IsArray()) return;
      // Texts compare without regard to case, and never equal a number.
      values += KindOf(value->ElementType()) == ValueKind::kText
                    ? L"\nt" + ToLower(value->texts[0])
                    : L"\nn" + std::to_wstring(value->numbers.at(0));
    }
    const auto added = m_seen.emplace(values, where);
    if (!added.second) {
      m_parser.Fail(where, "the same key as " + added.first->second +
                               " (WMI holds one instance for each key)");
    }
  }

 private:
  Parser& m_parser;
  std::map<std::wstring, std::string> m_seen;
};

}  // namespace

std::wstring ToLower(const std::wstring& text) {
  std::wstring lower = text;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = ::MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(),
                          static_cast<int>(text.size()), &result[0], size);
  }
  return result;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(),
                          static_cast<int>(text.size()), &result[0], size,
                          nullptr, nullptr);
  }
  return result;
}

const SimValue* SimInstance::Find(const std::wstring& name) const {
  for (const auto& property : properties) {
    if (_wcsicmp(property.first.c_str(), name.c_str()) == 0) {
      return &property.second;
    }
  }
  return nullptr;
}

const SimClass* SimNamespace::FindClass(const std::wstring& name) const {
  const auto found = classes.find(ToLower(name));
  return found == classes.end() ? nullptr : &found->second;
}

std::vector<const SimClass*> SimNamespace::FindClassAndSubclasses(
    const std::wstring& name) const {
  std::vector<const SimClass*> found;
  if (const SimClass* own = FindClass(name)) found.push_back(own);
  for (const auto& entry : classes) {
    if (entry.first != ToLower(name) &&
        SchemaDerivesFrom(entry.second.name, name))
      found.push_back(&entry.second);
  }
  return found;
}

std::wstring Scenario::Normalize(const std::wstring& name) {
  std::wstring normalized;
  for (wchar_t c : name) {
    if (c == L'/') c = L'\\';
    // Runs of separators collapse to one.
    if (c == L'\\' && !normalized.empty() && normalized.back() == L'\\')
      continue;
    normalized += c;
  }
  while (!normalized.empty() && normalized.back() == L'\\')
    normalized.pop_back();
  while (!normalized.empty() && normalized.front() == L'\\')
    normalized.erase(0, 1);
  return ToLower(normalized);
}

const SimNamespace* Scenario::FindNamespace(const std::wstring& name) const {
  const auto found = m_namespaces.find(Normalize(name));
  return found == m_namespaces.end() ? nullptr : &found->second;
}

bool Scenario::IsAbsent(const std::wstring& name) const {
  return m_absent.count(Normalize(name)) != 0;
}

Scenario Scenario::Parse(const std::string& text,
                         const std::string& sourceName) {
  Json root;
  try {
    // Scenarios nest a handful of levels; a limit keeps the reader's
    // recursive copies from overflowing the stack on a hostile file.
    root = Json::parse(text, [&](int depth, Json::parse_event_t, Json&) {
      if (depth > kMaxNesting) {
        throw ScenarioError(sourceName + ": nested deeper than " +
                            std::to_string(kMaxNesting) + " levels");
      }
      return true;
    });
  } catch (const Json::parse_error& error) {
    std::string problem = error.what();
    // Drop nlohmann's own "[json.exception.parse_error.101] parse error at
    // line 1, column 2: " prefix; the position is given below.
    const size_t colon = problem.find(": ");
    if (colon != std::string::npos) problem = problem.substr(colon + 2);
    throw ScenarioError(sourceName + ": " + LineAndColumn(text, error.byte) +
                        ": " + problem);
  }

  Parser parser(sourceName);
  Scenario scenario;
  if (!root.is_object()) parser.Fail("/", "the scenario must be a JSON object");
  for (auto item = root.begin(); item != root.end(); ++item) {
    if (item.key() != "namespaces" && item.key() != "absentNamespaces" &&
        item.key() != "comment" && item.key() != "registry" &&
        item.key() != "policy" && item.key() != "host") {
      parser.Fail("/" + item.key(), "unknown key");
    }
  }
  if (root.contains("absentNamespaces")) {
    const Json& absent = root["absentNamespaces"];
    if (!absent.is_array())
      parser.Fail("/absentNamespaces", "expected an array");
    for (size_t i = 0; i < absent.size(); ++i) {
      if (!absent[i].is_string()) {
        parser.Fail("/absentNamespaces/" + std::to_string(i),
                    "expected a text");
      }
      scenario.m_absent.insert(
          Normalize(Utf8ToWide(absent[i].get<std::string>())));
    }
  }
  if (root.contains("registry")) {
    const Json& registry = root["registry"];
    if (!registry.is_object())
      parser.Fail("/registry", "expected an object of keys");
    for (auto key = registry.begin(); key != registry.end(); ++key) {
      ParseRegistryKey(parser, key.value(), key.key(),
                       Pointer("/registry", key.key()), scenario.m_registry);
    }
  }
  if (root.contains("policy")) {
    ParseRegistryKey(parser, root["policy"], kPolicyKey, "/policy",
                     scenario.m_registry);
  }
  if (root.contains("host"))
    scenario.m_host = ParseHostFacts(parser, root["host"]);
  Json namespaces =
      root.contains("namespaces") ? root["namespaces"] : Json::object();
  if (!namespaces.is_object()) parser.Fail("/namespaces", "expected an object");
  if (scenario.m_host.portable) {
    // The chassis as WMI tells it: Notebook (10) or Desktop (3).
    for (auto ns = namespaces.begin(); ns != namespaces.end(); ++ns) {
      if (Normalize(Utf8ToWide(ns.key())) != L"root\\cimv2" ||
          !ns.value().is_object())
        continue;
      for (auto cls = ns.value().begin(); cls != ns.value().end(); ++cls) {
        if (ToLower(Utf8ToWide(cls.key())) == L"win32_systemenclosure") {
          parser.Fail("/host/portable",
                      "the scenario's own Win32_SystemEnclosure states the "
                      "chassis already");
        }
      }
    }
    namespaces["root\\cimv2"]["Win32_SystemEnclosure"] = {
        {"Tag", "System Enclosure 0"},
        {"ChassisTypes", Json::array({*scenario.m_host.portable ? 10 : 3})}};
  }

  for (auto ns = namespaces.begin(); ns != namespaces.end(); ++ns) {
    const std::string nsWhere = Pointer("/namespaces", ns.key());
    if (!ns.value().is_object())
      parser.Fail(nsWhere, "expected an object of classes");
    const std::wstring nsKey = Normalize(Utf8ToWide(ns.key()));
    if (nsKey.empty()) parser.Fail(nsWhere, "empty namespace name");
    const bool readNamespace = SchemaReadsNamespace(nsKey);
    if (!readNamespace) {
      scenario.m_warnings.push_back(sourceName +
                                    ": the plug-in never reads namespace \"" +
                                    ns.key() + "\"");
    }
    SimNamespace& target = scenario.m_namespaces[nsKey];
    target.name = Utf8ToWide(ns.key());
    KeyRegister keys(parser);
    for (auto cls = ns.value().begin(); cls != ns.value().end(); ++cls) {
      const std::string classWhere = Pointer(nsWhere, cls.key());
      const std::wstring className = Utf8ToWide(cls.key());
      if (readNamespace && !SchemaReadsClass(nsKey, className)) {
        scenario.m_warnings.push_back(
            sourceName + ": the plug-in never reads class \"" + cls.key() +
            "\" in namespace \"" + ns.key() + "\"");
      }
      AddClass(target, className);
      Json instances = cls.value();
      if (instances.is_object()) instances = Json::array({instances});
      if (!instances.is_array()) {
        parser.Fail(classWhere,
                    "expected an array of instances or one instance");
      }
      for (size_t i = 0; i < instances.size(); ++i) {
        const std::string instanceWhere = classWhere + "/" + std::to_string(i);
        if (!instances[i].is_object())
          parser.Fail(instanceWhere, "expected an object");
        SimInstance instance;
        instance.className =
            OwnClassName(parser, instances[i], className, instanceWhere);
        for (auto prop = instances[i].begin(); prop != instances[i].end();
             ++prop) {
          if (IsPowerShellKey(prop.key()) || prop.key() == "__CLASS") continue;
          const std::wstring propName = Utf8ToWide(prop.key());
          if (instance.Find(propName)) {
            parser.Fail(Pointer(instanceWhere, prop.key()),
                        "duplicate property");
          }
          instance.properties.emplace_back(
              propName,
              parser.ParseValue(prop.value(), instance.className, prop.key(),
                                Pointer(instanceWhere, prop.key())));
        }
        keys.Add(instance, instanceWhere);
        AddClass(target, instance.className)
            .instances.push_back(std::move(instance));
      }
    }
  }

  // A namespace's parents exist too (below root, which stays the
  // platform's).
  std::vector<std::wstring> parents;
  for (const auto& entry : scenario.m_namespaces) {
    std::wstring name = entry.first;
    for (size_t slash = name.rfind(L'\\'); slash != std::wstring::npos;
         slash = name.rfind(L'\\')) {
      name.resize(slash);
      if (name.find(L'\\') == std::wstring::npos) break;  // "root"
      parents.push_back(name);
    }
  }
  for (const std::wstring& parent : parents) {
    SimNamespace& added = scenario.m_namespaces[parent];
    if (added.name.empty()) added.name = parent;
  }

  for (auto& ns : scenario.m_namespaces) {
    for (auto& entry : ns.second.classes) {
      SimClass& simClass = entry.second;
      std::wstring key;
      if (SchemaKeyProperty(simClass.name, key))
        simClass.keyIndex.Build(key, simClass.instances);
    }
  }
  return scenario;
}

// Both forms read through one path: the encoding handling, the messages and
// the causes are the same whichever name a caller has.
Scenario Scenario::Load(const std::wstring& path) {
  const std::string name = WideToUtf8(path);
  return Parse(ScenarioText(ReadScenarioFile(path, name), name), name);
}

Scenario Scenario::Load(const std::string& path) {
  return Load(Utf8ToWide(path));
}

}  // namespace vpltest::sim
