#pragma once
// Headers of the stream's messages, ASCII lines ending in a line feed. Any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vimba::flux {

std::string enTeteF(int largeur, int hauteur, int n, int px, int py);
std::string enTeteT(int x, int y, int w, int h, std::size_t longueur);
std::string enTeteV(int largeur, int hauteur, std::size_t longueur, int px, int py, bool cle);
std::string enTeteC(std::size_t longueur);

// Appends a header and its payload to a message.
void ajouter(std::vector<std::uint8_t>& message, const std::string& enTete, const std::uint8_t* donnees = nullptr,
             std::size_t taille = 0);

// Rounds to the nearest integer, halves away from zero.
int arrondir(double v);

}  // namespace vimba::flux
