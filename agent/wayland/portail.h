#pragma once
// The desktop portal session of this process on Wayland: one RemoteDesktop session with a
// screen source where the desktop offers that portal (GNOME, KDE), ScreenCast alone elsewhere
// (wlroots). The user is asked once; the restore token is kept in memory for later sessions
// of this process. The D-Bus dance runs on a thread of its own with its own GLib context, so
// callers on the main loop or the capture thread only wait, and never longer than asked.
#include <cstdint>
#include <optional>
#include <string>

namespace vimba::wayland {

// The screen stream the portal granted: a PipeWire node, where it sits on the desktop and
// its size, both in the compositor's logical pixels (0 when the portal did not say).
struct FluxEcran {
    std::uint32_t noeud = 0;
    int x = 0, y = 0, largeur = 0, hauteur = 0;
};

enum class EtatPortail { Ferme, EnCours, Accorde, Refuse };

// Any thread. Everything returns at once unless it names a wait.
class Portail {
public:
    static Portail& commun();

    // Starts the session unless one is granted or being asked; a refused or lost session is
    // asked again.
    void demander();
    // Starts it as `demander` does, then waits at most `millisecondes` for the answer.
    EtatPortail attendre(int millisecondes);
    EtatPortail etat() const;
    std::optional<FluxEcran> flux() const;
    // A new connection to the PipeWire remote holding the stream (the caller closes it); -1
    // unless granted. Blocks at most 2 s.
    int ouvrirPipeWire();

    // Input through the RemoteDesktop portal: true once that session is granted with the
    // keyboard and the pointer (never on wlroots, which has no such portal).
    bool saisieAccordee() const;
    std::string session() const;  // the session's object path, empty before it is granted
    // Each sends one event in order on the session bus without waiting for the reply; false
    // when there is no granted input session. Pointer positions are in the stream's logical
    // pixels (FluxEcran's frame), buttons are evdev codes (BTN_LEFT = 0x110), keysyms X keysyms.
    bool pointeurAbsolu(double x, double y);
    bool bouton(int code, bool presse);
    bool defilerDiscret(int axe, int crans);   // axe 0 vertical, 1 horizontal; crans > 0 down/right
    bool defiler(double dx, double dy);        // smooth scroll in pixels, ended by the portal's finish flag
    bool toucheSymbole(std::uint32_t keysym, bool presse);
    // Blocks at most `millisecondes` until every event sent so far has left the process.
    void vider(int millisecondes = 500);

    // Closes the session; the next `demander` asks again (with the kept restore token).
    void fermer();

    Portail(const Portail&) = delete;
    Portail& operator=(const Portail&) = delete;

private:
    Portail();
    ~Portail();
    struct Etat;
    Etat* e_;
};

}  // namespace vimba::wayland
