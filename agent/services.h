#pragma once
// The operations the dispatcher asks of the desktop, one narrow interface per service.
// Real adapters live beside the code that owns each service (agent/linux, reading/,
// marker/, stream/); tests hand the dispatcher small doubles. All are called on the
// main thread unless a comment says otherwise.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reading/element.h"

namespace vimba {

struct Point {
    double x = 0, y = 0;
};

// Pointer and keyboard synthesis. Each call returns once its events are posted.
class Saisie {
public:
    virtual ~Saisie() = default;
    virtual void cliquer(double x, double y, bool double_, bool droit) = 0;
    virtual void bouger(double x, double y) = 0;
    virtual void defiler(double x, double y, std::int32_t lignes) = 0;
    // `avant` is asked before each Tab or line feed, before the key that follows one, before
    // the first key after another window came to the front, and between batches of keys a
    // fraction of a second apart; typing stops where it says false.
    virtual void ecrire(const std::string& texte, const std::function<bool()>& avant) = 0;
    // False when the combination names no known key.
    virtual bool frapper(const std::string& combinaison) = 0;
};

// What is in front, and whether the focus is a password field.
class Gardes {
public:
    virtual ~Gardes() = default;
    virtual std::optional<std::string> appDevant() = 0;
    // The title of the window in front: a bank in a browser tab, a password tool in a terminal.
    virtual std::optional<std::string> titreDevant() = 0;
    // Changes whenever another window comes to the front; the stream compares it on its own.
    virtual std::uint64_t cleDevant() = 0;
    virtual bool champSecurise() = 0;
};

class Permissions {
public:
    virtual ~Permissions() = default;
    virtual bool voitEcran() = 0;
    virtual bool peutAgir() = 0;
    virtual void demanderAutorisations() = 0;
};

// The desktop clipboard's plain text.
class PressePapiers {
public:
    virtual ~PressePapiers() = default;
    virtual std::optional<std::string> lire() = 0;
    virtual void ecrire(const std::string& texte) = 0;
};

// The front application's accessibility tree.
class Lecture {
public:
    virtual ~Lecture() = default;
    virtual std::vector<Element> elements(const std::optional<std::string>& motif, int maximum) = 0;
    virtual std::optional<Element> viser(const std::string& nom) = 0;
    // Whether the last list stopped early because the application stopped answering.
    virtual bool interrompue() const { return false; }
};

// Still screenshot; returns the complete reply of the "vue" verb.
class Photographe {
public:
    virtual ~Photographe() = default;
    virtual std::string capturer() = 0;
};

// The on-screen marker; calls arrive on the main loop after the reply is written.
class Marquage {
public:
    virtual ~Marquage() = default;
    virtual void montrer(double x, double y, const std::string& texte) = 0;
    virtual void tracer(const std::vector<Point>& points) = 0;
    virtual void effacer() = 0;
};

// The live stream server. port() and moteurActif() may be read from any thread.
class Diffusion {
public:
    virtual ~Diffusion() = default;
    virtual void demarrer(const std::string& dossier, std::int64_t largeur, std::int64_t qualitePourCent,
                          const std::string& moteur) = 0;
    virtual std::uint16_t port() const = 0;
    virtual std::string moteurActif() const = 0;
    virtual void arreter() = 0;
    // The verdict on the front window `cle` (Gardes::cleDevant): black pictures while it is
    // sensitive, and while another window than that one is in front, until it is judged.
    virtual void masquer(bool sensible, std::uint64_t cle) = 0;
};

struct Services {
    std::unique_ptr<Saisie> saisie;
    std::unique_ptr<Gardes> gardes;
    std::unique_ptr<Permissions> permissions;
    std::unique_ptr<PressePapiers> presse;
    std::unique_ptr<Lecture> lecture;
    std::unique_ptr<Photographe> photographe;
    std::unique_ptr<Marquage> marqueur;
    std::unique_ptr<Diffusion> diffuseur;
    // Runs work on the main loop after the current request; order is kept.
    std::function<void(std::function<void()>)> poster;
    // Pauses the main thread (the stream port wait); tests replace it.
    std::function<void(int millisecondes)> pause;
    // Runs what the main loop has pending (a stop, the window's buttons) in the middle of
    // a long request; empty in tests.
    std::function<void()> laisserTourner;
};

}  // namespace vimba
