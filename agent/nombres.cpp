#include "agent/nombres.h"

#include <charconv>
#include <cmath>

namespace vimba::nombres {

namespace {
// from_chars takes no leading '+'; the command language does.
std::string_view sansPlus(std::string_view mot) {
    if (mot.size() > 1 && mot[0] == '+' && mot[1] != '-' && mot[1] != '+') return mot.substr(1);
    return mot;
}
}  // namespace

std::optional<double> coordonnee(std::string_view mot) {
    mot = sansPlus(mot);
    if (mot.empty()) return std::nullopt;
    double v = 0;
    auto [fin, erreur] = std::from_chars(mot.data(), mot.data() + mot.size(), v, std::chars_format::general);
    if (erreur != std::errc{} || fin != mot.data() + mot.size()) return std::nullopt;
    if (!std::isfinite(v)) return std::nullopt;
    const double t = std::trunc(v);
    if (t < -9223372036854775808.0 || t >= 9223372036854775808.0) return std::nullopt;
    return v;
}

std::optional<std::int64_t> entier(std::string_view mot) {
    mot = sansPlus(mot);
    const std::size_t chiffres = (!mot.empty() && mot[0] == '-') ? 1 : 0;
    if (mot.size() <= chiffres) return std::nullopt;
    for (std::size_t i = chiffres; i < mot.size(); ++i)
        if (mot[i] < '0' || mot[i] > '9') return std::nullopt;
    std::int64_t v = 0;
    auto [fin, erreur] = std::from_chars(mot.data(), mot.data() + mot.size(), v);
    if (erreur != std::errc{} || fin != mot.data() + mot.size()) return std::nullopt;
    return v;
}

std::string tronque(double v) { return std::to_string(static_cast<std::int64_t>(std::trunc(v))); }

}  // namespace vimba::nombres
