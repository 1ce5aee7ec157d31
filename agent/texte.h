#pragma once
// Text helpers of the command language: UTF-8 checks, trimming, cutting, counting.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vimba::texte {

bool utf8Valide(std::string_view s);
// Removes tabs and Unicode space separators (Zs) at both ends; a carriage return stays.
std::string_view rogner(std::string_view s);
std::vector<std::string_view> couper(std::string_view s, char separateur, bool garderVides);
std::string joindre(const std::vector<std::string_view>& morceaux, std::string_view lien);
// User-perceived characters (grapheme clusters).
std::size_t compterCaracteres(std::string_view utf8);
// Case-insensitive "contains", folding case as Unicode does; accents still count.
bool contientSansCasse(std::string_view texte, std::string_view fragment);

}  // namespace vimba::texte

namespace vimba::texte {
// The first n user-perceived characters, and whether anything was cut.
std::string_view debut(std::string_view utf8, std::size_t n, bool& coupe);
}  // namespace vimba::texte
