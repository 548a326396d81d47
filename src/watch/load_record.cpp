#include "watch/load_record.h"

#include <openssl/evp.h>

#include <ctime>
#include <fstream>
#include <memory>

namespace tarvel::watch {
namespace {

EVP_MD_CTX* Ctx(void* ctx) { return static_cast<EVP_MD_CTX*>(ctx); }

// Fetched once: OpenSSL 3 looks the digest up anew on every implicit use, which costs more than
// hashing a line.
const EVP_MD* Sha256Digest() {
  static EVP_MD* digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return digest;
}

std::string Hex(const unsigned char* bytes, unsigned length) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

}  // namespace

// --- times and hashes

std::string UtcTime(SystemClock::time_point at) {
  const std::time_t seconds = SystemClock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::optional<SystemClock::time_point> ParseUtcTime(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z')
    return std::nullopt;
  auto number = [&](std::size_t at, std::size_t length) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  auto y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2), s = number(17, 2);
  if (!y || !mo || !d || !h || !mi || !s || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 || *h > 23 || *mi > 59 || *s > 60)
    return std::nullopt;
  std::tm utc{};
  utc.tm_year = *y - 1900;
  utc.tm_mon = *mo - 1;
  utc.tm_mday = *d;
  utc.tm_hour = *h;
  utc.tm_min = *mi;
  utc.tm_sec = *s;
  return SystemClock::from_time_t(timegm(&utc));
}

std::string Sha256Hex(std::string_view bytes) {
  thread_local const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestInit_ex(ctx.get(), Sha256Digest(), nullptr);
  EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size());
  EVP_DigestFinal_ex(ctx.get(), digest, &length);
  return Hex(digest, length);
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(Ctx(ctx_), Sha256Digest(), nullptr); }
Sha256::~Sha256() { EVP_MD_CTX_free(Ctx(ctx_)); }
Sha256::Sha256(const Sha256& other) : ctx_(EVP_MD_CTX_new()) { EVP_MD_CTX_copy_ex(Ctx(ctx_), Ctx(other.ctx_)); }
Sha256& Sha256::operator=(const Sha256& other) {
  if (this != &other) EVP_MD_CTX_copy_ex(Ctx(ctx_), Ctx(other.ctx_));
  return *this;
}
void Sha256::Add(std::string_view bytes) { EVP_DigestUpdate(Ctx(ctx_), bytes.data(), bytes.size()); }
std::string Sha256::Hex() const {
  Sha256 copy(*this);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestFinal_ex(Ctx(copy.ctx_), digest, &length);
  return watch::Hex(digest, length);
}

// --- fields

std::vector<FieldRule> ReadFieldRules(const AppFolder& folder) {
  std::ifstream in(folder.Setup() / "LoadFields.txt");
  if (!in)
    return {{"Customer", false}, {"Order", false},    {"Part numbers", false}, {"Quantity", false},
            {"Material", false}, {"Standard", false}, {"Revision", false},     {"Notes", false}};
  std::vector<FieldRule> rules;
  for (std::string line; std::getline(in, line);) {
    auto trim = [](std::string& t) {
      t.erase(0, t.find_first_not_of(" \t\r"));
      t.erase(t.find_last_not_of(" \t\r") + 1);
    };
    trim(line);
    if (line.empty() || line[0] == '#') continue;
    FieldRule rule{line, false};
    if (rule.name.ends_with('*')) {
      rule.required = true;
      rule.name.pop_back();
      trim(rule.name);
    }
    if (!rule.name.empty()) rules.push_back(rule);
  }
  return rules;
}

}  // namespace tarvel::watch
