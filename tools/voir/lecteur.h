#pragma once
// The viewer's side of the stream: a strict parser of the messages and the picture they
// rebuild. Runs on the viewer's reading thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vimba::voir {

// One header with its payload; for F the T records come as their own messages after it.
struct Message {
    char genre = 0;
    std::vector<long long> champs;
    std::vector<std::uint8_t> charge;
};

// The picture being rebuilt, 4 bytes a pixel, B, G, R, A.
struct Tableau {
    int largeur = 0, hauteur = 0;
    std::vector<std::uint8_t> bgra;
    int px = -1, py = -1;
};

// Turns messages of one kind into pixels of the picture; false with a reason when the
// message cannot be used.
class Decodeur {
public:
    virtual ~Decodeur() = default;
    virtual bool traiter(const Message& m, Tableau& t, std::string& erreur) = 0;
};

// F and T: resize the picture on a new size, paste each JPEG tile in place.
std::unique_ptr<Decodeur> decodeurTuiles();

// Splits the byte stream into messages; after the first error it refuses everything.
class Lecteur {
public:
    using Recu = std::function<void(const Message&)>;
    // False on a malformed stream; `erreur()` says why.
    bool nourrir(const std::uint8_t* donnees, std::size_t taille, const Recu& recu);
    const std::string& erreur() const { return erreur_; }
    // True when the stream stopped between two messages.
    bool entreDeux() const { return etat_ == Etat::EnTete && ligne_.empty() && tuilesAttendues_ == 0; }

private:
    bool enTete(Message& m);
    enum class Etat { EnTete, Charge } etat_ = Etat::EnTete;
    std::string ligne_;
    Message courant_;
    std::size_t reste_ = 0;
    long long tuilesAttendues_ = 0;
    long long largeurF_ = 0, hauteurF_ = 0;  // of the last F, which its T records must fit
    std::string erreur_;
};

// The picture as a PNG file, written beside and renamed into place.
bool ecrirePng(const Tableau& t, const std::string& chemin);

}  // namespace vimba::voir
