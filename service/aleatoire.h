#pragma once
// Secrets and their fingerprints: random bytes from the OS, SHA-256, constant-time equality.
// Free functions, callable from any thread.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vimba::service {

// n random bytes from getrandom(2); empty only if the OS refuses.
std::string octets_aleatoires(std::size_t n);
// A uniformly random integer in [0, borne), without modulo bias.
std::optional<unsigned> tirage(unsigned borne);
// Six decimal digits, each equally likely.
std::optional<std::string> code_aleatoire();

std::string hexa(std::string_view octets);
std::string base64url(std::string_view octets);
// Standard base64 (with padding) as in OpenSSH public keys; nullopt when not canonical.
std::optional<std::string> decoder_base64(std::string_view texte);

// SHA-256 of the text, in lowercase hexadecimal.
std::string empreinte(std::string_view texte);
// Equality whose duration depends only on the lengths.
bool egal_constant(std::string_view a, std::string_view b);

}  // namespace vimba::service
