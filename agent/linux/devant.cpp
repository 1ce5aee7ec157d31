// The application in front on X11. One display connection and the AT-SPI link are opened
// on first use and kept; main thread only.
#include "agent/linux/devant.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <atspi/atspi.h>
#include <glib.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gio/gio.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

#include "agent/linux/piege_x11.h"

namespace vimba::x11 {

namespace {

Display* affichage() {
    static Display* const d = XOpenDisplay(nullptr);
    return d;
}

// One 32-bit item of a window property (a window id or a number), or none.
std::optional<unsigned long> propriete(Display* d, Window w, const char* nom, Atom type) {
    PiegeX piege(d);
    Atom reel = None;
    int format = 0;
    unsigned long n = 0, reste = 0;
    unsigned char* donnees = nullptr;
    const int r = XGetWindowProperty(d, w, XInternAtom(d, nom, False), 0, 1, False, type, &reel, &format, &n, &reste,
                                     &donnees);
    std::optional<unsigned long> v;
    if (r == Success && piege.sain() && donnees && reel == type && format == 32 && n == 1)
        v = reinterpret_cast<unsigned long*>(donnees)[0];
    if (donnees) XFree(donnees);
    return v;
}

struct ClasseX {
    std::string instance, classe;
};

std::optional<ClasseX> classe(Display* d, Window w) {
    PiegeX piege(d);
    XClassHint h{nullptr, nullptr};
    const Status ok = XGetClassHint(d, w, &h);
    std::optional<ClasseX> c;
    if (ok && piege.sain()) c = ClasseX{h.res_name ? h.res_name : "", h.res_class ? h.res_class : ""};
    if (h.res_name) XFree(h.res_name);
    if (h.res_class) XFree(h.res_class);
    return c;
}

// Without a window manager there is no _NET_ACTIVE_WINDOW: take the keyboard focus and
// climb to its top-level window, so the guards still see what receives the keys.
Window fenetreFocus(Display* d) {
    PiegeX piege(d);
    Window focus = None;
    int etat = 0;
    XGetInputFocus(d, &focus, &etat);
    if (!piege.sain() || focus == None || focus == PointerRoot) return None;
    const Window racine = DefaultRootWindow(d);
    Window w = focus;
    for (int profondeur = 0; profondeur < 64 && w != racine; ++profondeur) {
        if (classe(d, w)) return w;
        Window r = None, parent = None, *enfants = nullptr;
        unsigned n = 0;
        if (!XQueryTree(d, w, &r, &parent, &enfants, &n) || !piege.sain()) return None;
        if (enfants) XFree(enfants);
        w = parent;
    }
    return None;
}

Window fenetreActive(Display* d) {
    // A running window manager's check window names itself; a manager that has gone
    // leaves properties naming windows that are no more, so its active window is not trusted.
    const auto controle = propriete(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    const bool gestionnaire = controle && propriete(d, *controle, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW) == controle;
    if (!gestionnaire) return fenetreFocus(d);
    const auto active = propriete(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return active ? *active : None;
}

std::string nomDeBureau(const std::string& fichier) {
    GKeyFile* f = g_key_file_new();
    std::string nom;
    if (g_key_file_load_from_data_dirs(f, ("applications/" + fichier).c_str(), nullptr, G_KEY_FILE_NONE, nullptr)) {
        if (gchar* n = g_key_file_get_locale_string(f, "Desktop Entry", "Name", nullptr, nullptr)) {
            nom = n;
            g_free(n);
        }
    }
    g_key_file_free(f);
    return nom;
}

// The Name of the desktop entry of a WM_CLASS: by file name, else by StartupWMClass.
// Answers are kept: this runs before every request and entries seldom change.
std::string nomParClasse(const ClasseX& c) {
    static std::map<std::string, std::string> connus;
    const std::string cle = c.instance + '\n' + c.classe;
    if (auto it = connus.find(cle); it != connus.end()) return it->second;
    std::string nom;
    for (const std::string& base : {c.classe, c.instance}) {
        if (base.empty()) continue;
        gchar* minuscule = g_ascii_strdown(base.c_str(), -1);
        for (const std::string& essai : {base, std::string(minuscule)})
            if (nom.empty()) nom = nomDeBureau(essai + ".desktop");
        g_free(minuscule);
    }
    if (nom.empty() && !c.classe.empty()) {
        std::vector<std::string> dossiers{std::string(g_get_user_data_dir()) + "/applications"};
        for (const gchar* const* s = g_get_system_data_dirs(); *s; ++s) dossiers.push_back(std::string(*s) + "/applications");
        for (const auto& dossier : dossiers) {
            GDir* rep = g_dir_open(dossier.c_str(), 0, nullptr);
            if (!rep) continue;
            while (const gchar* f = g_dir_read_name(rep)) {
                if (!nom.empty() || !g_str_has_suffix(f, ".desktop")) continue;
                GKeyFile* k = g_key_file_new();
                if (g_key_file_load_from_file(k, (dossier + "/" + f).c_str(), G_KEY_FILE_NONE, nullptr)) {
                    gchar* wm = g_key_file_get_string(k, "Desktop Entry", "StartupWMClass", nullptr);
                    if (wm && g_ascii_strcasecmp(wm, c.classe.c_str()) == 0) {
                        if (gchar* n = g_key_file_get_locale_string(k, "Desktop Entry", "Name", nullptr, nullptr)) {
                            nom = n;
                            g_free(n);
                        }
                    }
                    g_free(wm);
                }
                g_key_file_free(k);
            }
            g_dir_close(rep);
            if (!nom.empty()) break;
        }
    }
    connus.emplace(cle, nom);
    return nom;
}

}  // namespace

std::optional<AppliDevant> appliDevant() {
    Display* d = affichage();
    if (!d) return std::nullopt;
    const Window w = fenetreActive(d);
    if (w == None) return std::nullopt;
    AppliDevant a;
    if (auto pid = propriete(d, w, "_NET_WM_PID", XA_CARDINAL); pid && *pid > 0 && *pid < 0x7fffffff)
        a.pid = static_cast<int>(*pid);
    // Our own accessible tree cannot answer while this thread waits for it.
    if (a.pid > 0 && a.pid != getpid()) {
        Question q(a.pid);
        AtspiAccessible* app = q.permise() ? applicationAtspi(a.pid) : nullptr;
        if (app) {
            if (gchar* n = atspi_accessible_get_name(app, nullptr)) {
                a.nom = n;
                g_free(n);
            }
            g_object_unref(app);
        }
    }
    if (a.nom.empty()) {
        if (auto c = classe(d, w)) {
            a.nom = nomParClasse(*c);
            if (a.nom.empty()) a.nom = c->classe;
        }
    }
    return a;
}

namespace {
using Horloge = std::chrono::steady_clock;
// libatspi's own bound for a question, also kept in an application's first seconds on the
// bus (it would otherwise wait 15 s then); a question past half of it marks the process.
constexpr int attenteAtspiMs = 800;
constexpr long long silenceMs = 3000;

long long msMaintenant() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Horloge::now().time_since_epoch()).count();
}

// Processes that left a question unanswered, and until when they are not asked.
std::map<int, long long>& muettes() {
    static std::map<int, long long> m;
    return m;
}

// A stopped or traced process answers nothing until it is let go.
bool arrete(int pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string ligne;
    if (!std::getline(f, ligne)) return false;
    const auto fin = ligne.rfind(')');
    return fin != std::string::npos && fin + 2 < ligne.size() && (ligne[fin + 2] == 'T' || ligne[fin + 2] == 't');
}
}  // namespace

Question::Question(int pid) : pid_(pid), permise_(true), debut_(msMaintenant()) {
    auto it = muettes().find(pid);
    if (it != muettes().end() && it->second > debut_) permise_ = false;
    if (permise_ && arrete(pid)) permise_ = false;
    if (permise_) atspi_set_timeout(attenteAtspiMs, 0);
}

Question::~Question() {
    if (!permise_) return;
    const long long fin = msMaintenant();
    if (fin - debut_ > attenteAtspiMs / 2)
        muettes()[pid_] = fin + silenceMs;
    else
        muettes().erase(pid_);
}

std::optional<bool> accessibiliteActive() {
    GError* err = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    if (!bus) {
        g_clear_error(&err);
        return std::nullopt;
    }
    GVariant* r = g_dbus_connection_call_sync(bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
                                              g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
                                              G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &err);
    g_object_unref(bus);
    if (!r) {
        g_clear_error(&err);
        return std::nullopt;
    }
    GVariant* v = nullptr;
    g_variant_get(r, "(v)", &v);
    const bool actif = g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(v);
    g_variant_unref(v);
    g_variant_unref(r);
    return actif;
}

namespace {
std::uint32_t atome(xcb_connection_t* c, const char* nom) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(nom)), nom), nullptr);
    const std::uint32_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

void melanger(std::uint64_t& h, const void* donnees, std::size_t n) {
    // FNV-1a: equality is all that is asked of the key.
    for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(donnees)[i]) * 1099511628211ull;
}
}  // namespace

VueDevant::VueDevant() {
    int ecran = 0;
    connexion_ = xcb_connect(nullptr, &ecran);
    if (xcb_connection_has_error(connexion_)) return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connexion_));
    for (int i = 0; i < ecran && it.rem; ++i) xcb_screen_next(&it);
    if (it.rem) racine_ = it.data->root;
    active_ = atome(connexion_, "_NET_ACTIVE_WINDOW");
    nom_ = atome(connexion_, "_NET_WM_NAME");
    utf8_ = atome(connexion_, "UTF8_STRING");
}

VueDevant::~VueDevant() {
    if (connexion_) xcb_disconnect(connexion_);
}

std::uint64_t VueDevant::cle() {
    if (!connexion_ || xcb_connection_has_error(connexion_) || !racine_) return 0;
    const auto qActive = xcb_get_property(connexion_, 0, racine_, active_, XCB_ATOM_WINDOW, 0, 1);
    const auto qFocus = xcb_get_input_focus(connexion_);
    std::uint32_t active = 0, focus = 0;
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(connexion_, qActive, nullptr)) {
        if (r->type == XCB_ATOM_WINDOW && r->format == 32 && xcb_get_property_value_length(r) == 4)
            std::memcpy(&active, xcb_get_property_value(r), 4);
        std::free(r);
    }
    if (xcb_get_input_focus_reply_t* r = xcb_get_input_focus_reply(connexion_, qFocus, nullptr)) {
        focus = r->focus;
        std::free(r);
    }
    derniereActive_ = active;
    dernierFocus_ = focus;
    std::uint64_t h = 1469598103934665603ull;
    melanger(h, &active, sizeof active);
    melanger(h, &focus, sizeof focus);
    if (active) {
        // A window gone meanwhile answers an error, here only a missing reply.
        xcb_generic_error_t* erreur = nullptr;
        if (xcb_get_property_reply_t* r =
                xcb_get_property_reply(connexion_, xcb_get_property(connexion_, 0, active, nom_, utf8_, 0, 256), &erreur)) {
            melanger(h, xcb_get_property_value(r), static_cast<std::size_t>(xcb_get_property_value_length(r)));
            std::free(r);
        }
        std::free(erreur);
    }
    h &= ~(std::uint64_t{3} << 62);
    return h ? h : 1;
}

bool VueDevant::focusDansActive() {
    // No window manager, no focus or the pointer's window: nothing to wait for.
    if (!connexion_ || derniereActive_ == 0 || dernierFocus_ <= 1 || dernierFocus_ == derniereActive_) return true;
    std::uint32_t w = dernierFocus_;
    for (int n = 0; n < 16 && w && w != racine_; ++n) {
        xcb_query_tree_reply_t* r = xcb_query_tree_reply(connexion_, xcb_query_tree(connexion_, w), nullptr);
        if (!r) return false;
        w = r->parent;
        std::free(r);
        if (w == derniereActive_) return true;
    }
    return false;
}

namespace {
VueDevant& vueDevant() {
    static VueDevant vue;
    return vue;
}
}  // namespace

std::uint64_t cleFenetreDevant() { return vueDevant().cle(); }
bool focusDansFenetreActive() { return vueDevant().focusDansActive(); }
std::uint32_t focusFenetreDevant() { return vueDevant().focus(); }

std::optional<std::string> titreFenetreDevant() {
    Display* d = affichage();
    if (!d) return std::nullopt;
    const Window w = fenetreActive(d);
    if (w == None) return std::nullopt;
    PiegeX piege(d);
    std::optional<std::string> titre;
    Atom reel = None;
    int format = 0;
    unsigned long n = 0, reste = 0;
    unsigned char* donnees = nullptr;
    // A title longer than this says nothing more the guard needs.
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False,
                           XInternAtom(d, "UTF8_STRING", False), &reel, &format, &n, &reste, &donnees) == Success &&
        piege.sain() && donnees && format == 8 && n > 0)
        titre = std::string(reinterpret_cast<char*>(donnees), n);
    if (donnees) XFree(donnees);
    if (titre) return titre;
    XTextProperty texte{};
    if (XGetWMName(d, w, &texte) && piege.sain() && texte.value) {
        char** liste = nullptr;
        int compte = 0;
        if (Xutf8TextPropertyToTextList(d, &texte, &liste, &compte) >= Success && liste && compte > 0) titre = liste[0];
        if (liste) XFreeStringList(liste);
    }
    if (texte.value) XFree(texte.value);
    return titre;
}

bool atspiPret() {
    // libatspi aborts the process on its first call when it has no bus; ask once whether
    // it has one, and never call it otherwise.
    static const bool pret = [] {
        const int r = atspi_init();
        return r == 0 || (r == 1 && atspi_get_a11y_bus() != nullptr);
    }();
    return pret;
}

AtspiAccessible* applicationAtspi(int pid) {
    if (pid <= 0 || !atspiPret()) return nullptr;
    AtspiAccessible* bureau = atspi_get_desktop(0);
    if (!bureau) return nullptr;
    // A bus name is never given to another connection, so its process can be remembered.
    static std::map<std::string, int> pidParBus;
    AtspiAccessible* trouve = nullptr;
    const int n = atspi_accessible_get_child_count(bureau, nullptr);
    for (int i = 0; i < n && !trouve; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(bureau, i, nullptr);
        if (!app) continue;
        const char* bus = app->parent.app ? app->parent.app->bus_name : nullptr;
        int p = -1;
        if (auto it = bus ? pidParBus.find(bus) : pidParBus.end(); it != pidParBus.end()) {
            p = it->second;
        } else {
            GError* err = nullptr;
            p = static_cast<int>(atspi_accessible_get_process_id(app, &err));
            if (err) {
                g_error_free(err);
                p = -1;
            } else if (bus) {
                pidParBus.emplace(bus, p);
            }
        }
        if (p == pid)
            trouve = app;
        else
            g_object_unref(app);
    }
    g_object_unref(bureau);
    return trouve;
}

}  // namespace vimba::x11
