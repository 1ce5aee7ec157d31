#include "agent/linux/saisie_x11.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "agent/bureau.h"
#include "agent/fabrique.h"
#include "agent/linux/cles_pretees.h"
#include "agent/linux/devant.h"
#include "agent/linux/ecran_x11.h"
#include "agent/linux/piege_x11.h"
#include "agent/linux/touches.h"
#include "agent/wayland/saisie_wayland.h"

namespace vimba::x11 {

namespace {

constexpr std::chrono::milliseconds apresDeplacement{40};
constexpr std::chrono::milliseconds enfoncementBouton{50};
constexpr std::chrono::milliseconds apresClicDouble{40};
constexpr std::chrono::milliseconds apresCaractere{12};
constexpr std::chrono::milliseconds enfoncementTouche{40};
// While typing, the caller is asked this often whether to go on (focus, stop).
constexpr std::chrono::milliseconds entreAvis{100};
constexpr std::chrono::milliseconds apresSautFocus{50};
// A window that takes the focus is named the active one by the window manager a moment
// later: between the two, the guards would still judge the window left behind.
constexpr std::chrono::milliseconds reposDevant{20};
constexpr int reposDevantMaximum = 50;
// A focus that keeps moving is judged this many times, then typed into as judged last.
constexpr int essaisFocus = 20;
// A button press that comes soon after a keyboard mapping change is held back behind the
// window manager's passive grab while it reloads the mapping, and lands after the keys
// typed next (seen with openbox and GTK): clicks wait until the change has settled.
constexpr std::chrono::milliseconds digestionCarte{300};
// A button the user holds down would keep a click waiting this long at most.
constexpr std::chrono::milliseconds clicRetenuMaximum{5000};

void pause(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

// X coordinates are 16-bit on the wire; further points are clamped to the edge.
int versRacine(double v, int origine) {
    if (std::isnan(v)) return origine;
    const double r = std::floor(v) + origine;
    return static_cast<int>(std::clamp(r, -32768.0, 32767.0));
}

// The text's scalars; a malformed byte gives none and is skipped.
std::vector<char32_t> scalaires(const std::string& s) {
    std::vector<char32_t> r;
    const char* p = s.data();
    const char* const fin = p + s.size();
    while (p < fin) {
        const gunichar c = g_utf8_get_char_validated(p, fin - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            ++p;
            continue;
        }
        r.push_back(c);
        p = g_utf8_next_char(p);
    }
    return r;
}

}  // namespace

SaisieX11::SaisieX11() : affichage_(XOpenDisplay(nullptr)) {
    if (!affichage_) return;
    int ev, err, maj, min;
    xtest_ = XTestQueryExtension(affichage_, &ev, &err, &maj, &min);
    // Our events must still flow while another client grabs the server.
    if (xtest_) XTestGrabControl(affichage_, True);
}

SaisieX11::~SaisieX11() {
    if (affichage_) XCloseDisplay(affichage_);
}

void SaisieX11::deplacer(double x, double y) {
    if (!xtest_) return;
    const Moniteur m = moniteurPrincipal(affichage_);
    PiegeX piege(affichage_);
    XTestFakeMotionEvent(affichage_, -1, versRacine(x, m.x), versRacine(y, m.y), CurrentTime);
    XFlush(affichage_);
}

void SaisieX11::bouton(unsigned numero, bool enfonce) {
    if (!xtest_) return;
    PiegeX piege(affichage_);
    XTestFakeButtonEvent(affichage_, numero, enfonce, CurrentTime);
    XFlush(affichage_);
}

void SaisieX11::cle(KeyCode code, bool enfonce) {
    if (!xtest_ || code == 0) return;
    PiegeX piege(affichage_);
    XTestFakeKeyEvent(affichage_, code, enfonce, CurrentTime);
    XFlush(affichage_);
}

void SaisieX11::laisserDigerer() { std::this_thread::sleep_until(derniereCarte_ + digestionCarte); }

// A window manager that grabs the button to raise the window holds the click until it lets
// it go, which can take long when it is busy (reloading the mapping after a text): keys sent
// meanwhile would reach the window before the click moves the focus. The server shows the
// button released only once the held events went through.
void SaisieX11::attendreClicPasse() {
    if (!xtest_) return;
    const auto limite = std::chrono::steady_clock::now() + clicRetenuMaximum;
    while (std::chrono::steady_clock::now() < limite) {
        Window racine, enfant;
        int rx, ry, x, y;
        unsigned etat = 0;
        if (!XQueryPointer(affichage_, DefaultRootWindow(affichage_), &racine, &enfant, &rx, &ry, &x, &y, &etat)) return;
        if (!(etat & (Button1Mask | Button2Mask | Button3Mask))) return;
        pause(std::chrono::milliseconds(5));
    }
}

void SaisieX11::cliquer(double x, double y, bool double_, bool droit) {
    laisserDigerer();
    deplacer(x, y);
    pause(apresDeplacement);
    // X counts the clicks itself: two presses close in time and place are a double click.
    const unsigned numero = droit ? Button3 : Button1;
    for (int n = 0; n < (double_ ? 2 : 1); ++n) {
        bouton(numero, true);
        pause(enfoncementBouton);
        bouton(numero, false);
        if (double_) pause(apresClicDouble);
    }
    attendreClicPasse();
}

void SaisieX11::bouger(double x, double y) { deplacer(x, y); }

void SaisieX11::defiler(double x, double y, std::int32_t lignes) {
    laisserDigerer();
    deplacer(x, y);
    const unsigned numero = lignes > 0 ? Button4 : Button5;
    const std::int64_t crans = std::min<std::int64_t>(std::abs(static_cast<std::int64_t>(lignes)), cransMaximum);
    for (std::int64_t i = 0; i < crans; ++i) {
        bouton(numero, true);
        bouton(numero, false);
    }
}

void SaisieX11::ecrire(const std::string& texte, const std::function<bool()>& avant) {
    if (!xtest_) return;
    std::vector<KeySym> symboles;
    for (char32_t c : scalaires(texte)) symboles.push_back(c == U'\n' ? XK_Return : c == U'\t' ? XK_Tab : keysymDe(c));
    const std::size_t n = symboles.size();
    const KeyCode majuscule = XKeysymToKeycode(affichage_, XK_Shift_L);
    auto dernierAvis = std::chrono::steady_clock::now();
    bool apresSaut = false;
    // Another window in front (the user's click, a window that opens) is asked about before
    // the next key reaches it; reading which one is cheap enough for every key.
    std::uint64_t devant = cleFenetreDevant();
    std::uint32_t focusJuge = focusFenetreDevant();
    ClesPretees cles(affichage_, symboles, &derniereCarte_);
    for (std::size_t i = 0; i < n; ++i) {
        const bool saut = symboles[i] == XK_Return || symboles[i] == XK_Tab;
        if (apresSaut) {
            // The focus may have moved: let the server deliver the key and the application
            // take it before its focus is asked about.
            XSync(affichage_, False);
            pause(apresSautFocus);
        }
        const bool juger = saut || apresSaut;
        apresSaut = saut;
        // A lent keycode is mapped before the checks, which hold the server while they last.
        ClesPretees::Frappe f = cles.frappe(i);
        if (f.majuscule && majuscule == 0) f = {cles.sansMajuscule(i), false};
        for (int essai = 0;; ++essai) {
            std::uint64_t fenetre = cleFenetreDevant();
            for (int r = 0; fenetre != devant && r < reposDevantMaximum; ++r) {
                pause(reposDevant);
                const std::uint64_t encore = cleFenetreDevant();
                if (encore == fenetre && focusDansFenetreActive()) break;
                fenetre = encore;
            }
            if (essai > 0 || juger || fenetre != devant || std::chrono::steady_clock::now() - dernierAvis >= entreAvis) {
                if (!avant()) return;
                dernierAvis = std::chrono::steady_clock::now();
                devant = fenetre;
                focusJuge = focusFenetreDevant();
            }
            // The key goes where the focus is when the server handles it: a window that takes
            // the focus for a moment (a new one, before the window manager decides) would get
            // it. Held, the server lets no other client move the focus between this look and
            // the key.
            XGrabServer(affichage_);
            Window focus = None;
            int retour = 0;
            XGetInputFocus(affichage_, &focus, &retour);
            if (focus == focusJuge || essai >= essaisFocus) break;
            XUngrabServer(affichage_);
            XFlush(affichage_);
        }
        if (f.majuscule && f.code) cle(majuscule, true);
        cle(f.code, true);
        cle(f.code, false);
        if (f.majuscule && f.code) cle(majuscule, false);
        XUngrabServer(affichage_);
        XFlush(affichage_);
        pause(apresCaractere);
    }
}

bool SaisieX11::frapper(const std::string& mot) {
    const auto combinaison = lireCombinaison(mot);
    if (!combinaison) return false;
    if (!xtest_) return true;
    // Synthetic X events carry no modifier flags: the modifier keys themselves go down
    // first and come up last, in reverse order.
    std::vector<KeyCode> modificateurs;
    for (auto [m, s] : {std::pair<unsigned, KeySym>{Controle, XK_Control_L}, {Alt, XK_Alt_L}, {Majuscule, XK_Shift_L}}) {
        if (!(combinaison->modificateurs & m)) continue;
        if (KeyCode code = XKeysymToKeycode(affichage_, s)) modificateurs.push_back(code);
    }
    // A key missing from the layout is lent a spare keycode for the time of the press.
    ClesPretees cles(affichage_, {combinaison->touche}, &derniereCarte_);
    KeyCode code = XKeysymToKeycode(affichage_, combinaison->touche);
    if (code == 0) code = cles.sansMajuscule(0);
    for (KeyCode m : modificateurs) cle(m, true);
    cle(code, true);
    pause(enfoncementTouche);
    cle(code, false);
    for (auto m = modificateurs.rbegin(); m != modificateurs.rend(); ++m) cle(*m, false);
    return true;
}

}  // namespace vimba::x11

namespace vimba {
std::unique_ptr<Saisie> creerSaisie() {
    if (bureauCourant().affichage == Affichage::Wayland)
        if (auto s = wayland::creerSaisieWayland()) return s;
    return std::make_unique<x11::SaisieX11>();
}
}  // namespace vimba
