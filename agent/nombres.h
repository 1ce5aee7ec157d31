#pragma once
// Numbers of the command language, read and written the same way in every locale.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vimba::nombres {

// A finite decimal number whose integer part fits 64 bits; anything else is malformed.
std::optional<double> coordonnee(std::string_view mot);
// An optional sign and decimal digits, fitting 64 bits.
std::optional<std::int64_t> entier(std::string_view mot);
// Truncated toward zero, as replies show coordinates.
std::string tronque(double v);

}  // namespace vimba::nombres
