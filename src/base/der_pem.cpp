#include "base/der_pem.h"

#include <cstring>

#include "base/base64.h"

namespace base {

namespace {

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kBitString = 0x03;
constexpr std::uint8_t kOid = 0x06;

// id-ecPublicKey (1.2.840.10045.2.1) and prime256v1 (1.2.840.10045.3.1.7), encoded.
constexpr std::uint8_t kEcPublicKeyOid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr std::uint8_t kP256Oid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

constexpr char kPemBegin[] = "-----BEGIN PUBLIC KEY-----";
constexpr char kPemEnd[] = "-----END PUBLIC KEY-----";

Failure Invalid(std::wstring reason) { return MakeFailure(Failure::Kind::kInvalid, std::move(reason)); }

// A cursor over DER bytes that reads one element at a time, refusing lengths that are not
// in their shortest form (DER allows one encoding only).
struct DerReader {
  const std::uint8_t* p;
  std::size_t n;

  bool Read(std::uint8_t tag, DerReader* content) {
    if (n < 2 || p[0] != tag) return false;
    std::size_t length = p[1];
    std::size_t header = 2;
    if (length == 0x81) {
      if (n < 3 || p[2] < 0x80) return false;
      length = p[2];
      header = 3;
    } else if (length == 0x82) {
      if (n < 4 || p[2] == 0 || (p[2] << 8 | p[3]) < 0x100) return false;
      length = static_cast<std::size_t>(p[2]) << 8 | p[3];
      header = 4;
    } else if (length > 0x7F) {
      return false;
    }
    if (n - header < length) return false;
    *content = DerReader{p + header, length};
    p += header + length;
    n -= header + length;
    return true;
  }
  bool Empty() const { return n == 0; }
  bool Is(const std::uint8_t* bytes, std::size_t size) const {
    return n == size && std::memcmp(p, bytes, size) == 0;
  }
};

void AppendElement(std::vector<std::uint8_t>* out, std::uint8_t tag,
                   const std::vector<std::uint8_t>& content) {
  out->push_back(tag);
  if (content.size() >= 0x80) {
    // The shapes written here stay below 256 bytes.
    out->push_back(0x81);
  }
  out->push_back(static_cast<std::uint8_t>(content.size()));
  out->insert(out->end(), content.begin(), content.end());
}

std::vector<std::uint8_t> MinimalInteger(const std::uint8_t* bytes) {
  std::size_t start = 0;
  while (start < 31 && bytes[start] == 0) ++start;
  const bool pad = bytes[start] & 0x80;  // a leading zero keeps the integer positive
  std::vector<std::uint8_t> out(32 - start + (pad ? 1 : 0), 0);
  std::memcpy(out.data() + (pad ? 1 : 0), bytes + start, 32 - start);
  return out;
}

bool ReadUnsigned32(DerReader* seq, std::uint8_t* out) {
  DerReader v{};
  if (!seq->Read(kInteger, &v) || v.n == 0) return false;
  if (v.p[0] & 0x80) return false;                                // negative
  if (v.n > 1 && v.p[0] == 0 && !(v.p[1] & 0x80)) return false;  // not minimal
  if (v.n > 1 && v.p[0] == 0) {
    ++v.p;
    --v.n;
  }
  if (v.n > 32) return false;
  std::memset(out, 0, 32);
  std::memcpy(out + 32 - v.n, v.p, v.n);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<std::uint8_t> P256SpkiDer(const P256Point& point) {
  std::vector<std::uint8_t> oids;
  AppendElement(&oids, kOid, {std::begin(kEcPublicKeyOid), std::end(kEcPublicKeyOid)});
  AppendElement(&oids, kOid, {std::begin(kP256Oid), std::end(kP256Oid)});
  std::vector<std::uint8_t> bits = {0x00, 0x04};
  bits.insert(bits.end(), point.begin(), point.end());
  std::vector<std::uint8_t> body;
  AppendElement(&body, kSequence, oids);
  AppendElement(&body, kBitString, bits);
  std::vector<std::uint8_t> der;
  AppendElement(&der, kSequence, body);
  return der;
}

std::string P256PublicKeyPem(const P256Point& point) {
  std::vector<std::uint8_t> der = P256SpkiDer(point);
  std::string b64 = Base64Encode(der.data(), der.size());
  std::string pem = std::string(kPemBegin) + "\n";
  for (std::size_t i = 0; i < b64.size(); i += 64) pem += b64.substr(i, 64) + "\n";
  pem += std::string(kPemEnd) + "\n";
  return pem;
}

Result<P256Point> ParseP256Spki(const std::uint8_t* der, std::size_t size) {
  DerReader in{der, size}, spki{}, algorithm{}, oid{}, curve{}, bits{};
  if (!in.Read(kSequence, &spki) || !in.Empty()) return Invalid(L"not a DER SubjectPublicKeyInfo");
  if (!spki.Read(kSequence, &algorithm) || !spki.Read(kBitString, &bits) || !spki.Empty())
    return Invalid(L"not a DER SubjectPublicKeyInfo");
  if (!algorithm.Read(kOid, &oid) || !oid.Is(kEcPublicKeyOid, sizeof kEcPublicKeyOid))
    return Invalid(L"not an elliptic-curve public key");
  if (!algorithm.Read(kOid, &curve) || !curve.Is(kP256Oid, sizeof kP256Oid) || !algorithm.Empty())
    return Invalid(L"not a key of the curve P-256");
  if (bits.n != 66 || bits.p[0] != 0x00 || bits.p[1] != 0x04)
    return Invalid(L"not an uncompressed P-256 point");
  P256Point point;
  std::memcpy(point.data(), bits.p + 2, point.size());
  return point;
}

Result<P256Point> ParseP256PublicKeyPem(std::string_view pem) {
  std::size_t begin = 0, end = pem.size();
  while (begin < end && IsSpace(pem[begin])) ++begin;
  while (end > begin && IsSpace(pem[end - 1])) --end;
  std::string_view block = pem.substr(begin, end - begin);
  const std::string_view head = kPemBegin, tail = kPemEnd;
  if (block.size() < head.size() + tail.size() || block.substr(0, head.size()) != head ||
      block.substr(block.size() - tail.size()) != tail)
    return Invalid(L"not a PEM public key");
  std::string_view body = block.substr(head.size(), block.size() - head.size() - tail.size());
  std::string b64;
  // Lines of base64 between the armour lines; only line ends may separate them.
  for (std::size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c == '\n') continue;
    if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') continue;
    b64 += c;
  }
  auto der = Base64Decode(b64);
  if (!der) return Invalid(L"PEM body is not base64");
  return ParseP256Spki(der->data(), der->size());
}

std::vector<std::uint8_t> EcdsaSignatureDer(const P256RawSignature& rs) {
  std::vector<std::uint8_t> body;
  AppendElement(&body, kInteger, MinimalInteger(rs.data()));
  AppendElement(&body, kInteger, MinimalInteger(rs.data() + 32));
  std::vector<std::uint8_t> der;
  AppendElement(&der, kSequence, body);
  return der;
}

Result<P256RawSignature> ParseEcdsaSignatureDer(const std::uint8_t* der, std::size_t size) {
  DerReader in{der, size}, seq{};
  P256RawSignature rs;
  if (!in.Read(kSequence, &seq) || !in.Empty() || !ReadUnsigned32(&seq, rs.data()) ||
      !ReadUnsigned32(&seq, rs.data() + 32) || !seq.Empty())
    return Invalid(L"not a DER ECDSA P-256 signature");
  return rs;
}

std::string HexLower(const void* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

Result<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
  if (text.size() % 2 != 0) return Invalid(L"odd number of hex digits");
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return Invalid(L"not hex digits");
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

}  // namespace base
