#include "service/aleatoire.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <sys/random.h>

#include <cerrno>

namespace vimba::service {

std::string octets_aleatoires(std::size_t n) {
  std::string octets(n, '\0');
  std::size_t lus = 0;
  while (lus < n) {
    ssize_t r = getrandom(octets.data() + lus, n - lus, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    lus += static_cast<std::size_t>(r);
  }
  return octets;
}

std::optional<unsigned> tirage(unsigned borne) {
  if (borne == 0) return std::nullopt;
  // Rejects the top sliver of 32-bit values so every result is equally likely.
  const uint32_t limite = UINT32_MAX - (UINT32_MAX % borne);
  for (;;) {
    std::string o = octets_aleatoires(4);
    if (o.size() != 4) return std::nullopt;
    uint32_t v = 0;
    for (unsigned char c : o) v = (v << 8) | c;
    if (v < limite) return v % borne;
  }
}

std::optional<std::string> code_aleatoire() {
  auto n = tirage(1000000);
  if (!n) return std::nullopt;
  std::string code = std::to_string(*n);
  return std::string(6 - code.size(), '0') + code;
}

std::string hexa(std::string_view octets) {
  static const char chiffres[] = "0123456789abcdef";
  std::string s;
  s.reserve(octets.size() * 2);
  for (unsigned char c : octets) {
    s += chiffres[c >> 4];
    s += chiffres[c & 15];
  }
  return s;
}

std::string base64url(std::string_view octets) {
  static const char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string s;
  std::size_t i = 0;
  for (; i + 2 < octets.size(); i += 3) {
    uint32_t v = (uint8_t(octets[i]) << 16) | (uint8_t(octets[i + 1]) << 8) | uint8_t(octets[i + 2]);
    for (int k = 18; k >= 0; k -= 6) s += alphabet[(v >> k) & 63];
  }
  if (i + 1 == octets.size()) {
    uint32_t v = uint8_t(octets[i]) << 16;
    s += alphabet[(v >> 18) & 63];
    s += alphabet[(v >> 12) & 63];
  } else if (i + 2 == octets.size()) {
    uint32_t v = (uint8_t(octets[i]) << 16) | (uint8_t(octets[i + 1]) << 8);
    s += alphabet[(v >> 18) & 63];
    s += alphabet[(v >> 12) & 63];
    s += alphabet[(v >> 6) & 63];
  }
  return s;
}

std::optional<std::string> decoder_base64(std::string_view texte) {
  if (texte.empty() || texte.size() % 4 != 0) return std::nullopt;
  auto valeur = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::size_t bourrage = 0;
  if (texte.back() == '=') bourrage = texte[texte.size() - 2] == '=' ? 2 : 1;
  std::string octets;
  octets.reserve(texte.size() / 4 * 3);
  for (std::size_t i = 0; i < texte.size(); i += 4) {
    uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      char c = texte[i + k];
      int d;
      if (c == '=' && i + 4 == texte.size() && k >= 4 - bourrage) d = 0;
      else if ((d = valeur(c)) < 0) return std::nullopt;
      v = (v << 6) | uint32_t(d);
    }
    octets += char(v >> 16);
    octets += char((v >> 8) & 255);
    octets += char(v & 255);
  }
  octets.resize(octets.size() - bourrage);
  // Canonical only: the bits dropped by the padding must be zero.
  if (base64url(octets).size() + bourrage != texte.size()) return std::nullopt;
  std::string retour = base64url(octets);
  for (char& c : retour) c = c == '-' ? '+' : c == '_' ? '/' : c;
  retour.append(bourrage, '=');
  if (retour != texte) return std::nullopt;
  return octets;
}

std::string empreinte(std::string_view texte) {
  unsigned char d[SHA256_DIGEST_LENGTH];
  unsigned int n = 0;
  EVP_Digest(texte.data(), texte.size(), d, &n, EVP_sha256(), nullptr);
  return hexa(std::string_view(reinterpret_cast<char*>(d), n));
}

bool egal_constant(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace vimba::service
