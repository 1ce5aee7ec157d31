#include "stream/format.h"

#include <cmath>

namespace vimba::flux {

namespace {
std::string ligne(char genre, std::initializer_list<long long> champs) {
    std::string s(1, genre);
    for (long long c : champs) {
        s += ' ';
        s += std::to_string(c);
    }
    s += '\n';
    return s;
}
}  // namespace

std::string enTeteF(int largeur, int hauteur, int n, int px, int py) { return ligne('F', {largeur, hauteur, n, px, py}); }
std::string enTeteT(int x, int y, int w, int h, std::size_t longueur) {
    return ligne('T', {x, y, w, h, static_cast<long long>(longueur)});
}
std::string enTeteV(int largeur, int hauteur, std::size_t longueur, int px, int py, bool cle) {
    return ligne('V', {largeur, hauteur, static_cast<long long>(longueur), px, py, cle ? 1 : 0});
}
std::string enTeteC(std::size_t longueur) { return ligne('C', {static_cast<long long>(longueur)}); }

void ajouter(std::vector<std::uint8_t>& message, const std::string& enTete, const std::uint8_t* donnees,
             std::size_t taille) {
    message.insert(message.end(), enTete.begin(), enTete.end());
    if (donnees && taille) message.insert(message.end(), donnees, donnees + taille);
}

int arrondir(double v) { return static_cast<int>(std::round(v)); }

}  // namespace vimba::flux
