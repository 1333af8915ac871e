#include "update/tuf/canonical_json.h"

namespace update::tuf {

namespace {

void AppendString(std::string* out, const std::string& text) {
  *out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') *out += '\\';
    *out += c;
  }
  *out += '"';
}

// Far deeper than any metadata nests (about five levels): a document made of nothing but
// brackets must not run the stack out.
constexpr int kMaxDepth = 64;

bool Append(std::string* out, const nlohmann::json& value, int depth) {
  if (depth > kMaxDepth) return false;
  switch (value.type()) {
    case nlohmann::json::value_t::null:
      *out += "null";
      return true;
    case nlohmann::json::value_t::boolean:
      *out += value.get<bool>() ? "true" : "false";
      return true;
    case nlohmann::json::value_t::number_integer:
      *out += std::to_string(value.get<std::int64_t>());
      return true;
    case nlohmann::json::value_t::number_unsigned:
      *out += std::to_string(value.get<std::uint64_t>());
      return true;
    case nlohmann::json::value_t::string:
      AppendString(out, value.get_ref<const std::string&>());
      return true;
    case nlohmann::json::value_t::array: {
      *out += '[';
      bool first = true;
      for (const auto& element : value) {
        if (!first) *out += ',';
        first = false;
        if (!Append(out, element, depth + 1)) return false;
      }
      *out += ']';
      return true;
    }
    case nlohmann::json::value_t::object: {
      // nlohmann::json keeps objects in a std::map: iteration is already in byte order.
      *out += '{';
      bool first = true;
      for (const auto& [key, element] : value.items()) {
        if (!first) *out += ',';
        first = false;
        AppendString(out, key);
        *out += ':';
        if (!Append(out, element, depth + 1)) return false;
      }
      *out += '}';
      return true;
    }
    default:  // floats, binary, discarded
      return false;
  }
}

}  // namespace

base::Result<std::string> CanonicalJson(const nlohmann::json& value) {
  std::string out;
  if (!Append(&out, value, 0))
    return base::MakeFailure(base::Failure::Kind::kInvalid,
                             L"metadata holds a value canonical JSON cannot encode, or nests too deep");
  return out;
}

}  // namespace update::tuf
