#include "agent/wayland/portail.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "agent/bureau.h"

namespace vimba::wayland {

namespace {

constexpr const char* kBus = "org.freedesktop.portal.Desktop";
constexpr const char* kChemin = "/org/freedesktop/portal/desktop";
constexpr const char* kEcran = "org.freedesktop.portal.ScreenCast";
constexpr const char* kDistant = "org.freedesktop.portal.RemoteDesktop";
// The user may take a while over the consent dialog; a forgotten one must not hold the
// session forever.
constexpr int kConsentementMs = 120000;
constexpr int kAppelMs = 5000;

std::uint32_t proprieteU(GDBusConnection* bus, const char* interface, const char* nom) {
    GVariant* r = g_dbus_connection_call_sync(bus, kBus, kChemin, "org.freedesktop.DBus.Properties", "Get",
                                              g_variant_new("(ss)", interface, nom), G_VARIANT_TYPE("(v)"),
                                              G_DBUS_CALL_FLAGS_NONE, kAppelMs, nullptr, nullptr);
    if (!r) return 0;
    GVariant* v = nullptr;
    g_variant_get(r, "(v)", &v);
    const std::uint32_t n = g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(v) : 0;
    g_variant_unref(v);
    g_variant_unref(r);
    return n;
}

}  // namespace

struct Portail::Etat {
    GMainContext* contexte = g_main_context_new();
    GDBusConnection* bus = nullptr;
    std::string jetonPrefixe;  // the request path's sender part

    mutable std::mutex verrou;
    std::condition_variable change;
    EtatPortail etat = EtatPortail::Ferme;
    std::optional<FluxEcran> flux;
    std::string session;
    bool saisie = false;
    std::string restauration;  // the portal's restore token, for this process's next session
    guint abonnementFerme = 0;
    unsigned compteur = 0;

    // Runs `travail` on the portal thread.
    void surLeFil(std::function<void()> travail) {
        auto* t = new std::function<void()>(std::move(travail));
        g_main_context_invoke_full(
            contexte, G_PRIORITY_DEFAULT,
            [](gpointer d) -> gboolean {
                (*static_cast<std::function<void()>*>(d))();
                return G_SOURCE_REMOVE;
            },
            t, [](gpointer d) { delete static_cast<std::function<void()>*>(d); });
    }

    void poser(EtatPortail e) {
        {
            std::lock_guard v(verrou);
            etat = e;
        }
        change.notify_all();
    }

    std::string jeton() { return "vimba" + std::to_string(++compteur); }

    // Calls a portal method that answers through a Request object and waits, on the portal
    // thread, for its Response. Empty when the call fails, is refused or times out.
    std::optional<GVariant*> demanderReponse(const char* interface, const char* methode, GVariant* parametres,
                                             const std::string& jetonRequete, int delaiMs) {
        const std::string chemin = "/org/freedesktop/portal/desktop/request/" + jetonPrefixe + "/" + jetonRequete;
        struct Attente {
            bool finie = false;
            std::uint32_t code = 2;
            GVariant* resultats = nullptr;
        } attente;
        const guint abonnement = g_dbus_connection_signal_subscribe(
            bus, kBus, "org.freedesktop.portal.Request", "Response", chemin.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* p, gpointer d) {
                auto* a = static_cast<Attente*>(d);
                if (a->finie) return;
                g_variant_get(p, "(u@a{sv})", &a->code, &a->resultats);
                a->finie = true;
            },
            &attente, nullptr);
        GError* err = nullptr;
        GVariant* r = g_dbus_connection_call_sync(bus, kBus, kChemin, interface, methode, parametres, G_VARIANT_TYPE("(o)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kAppelMs, nullptr, &err);
        if (!r) {
            if (g_getenv("VIMBA_PORTAIL_JOURNAL")) g_printerr("portail: %s: %s\n", methode, err->message);
            g_clear_error(&err);
            g_dbus_connection_signal_unsubscribe(bus, abonnement);
            return std::nullopt;
        }
        const gchar* obtenu = nullptr;
        g_variant_get(r, "(&o)", &obtenu);
        const std::string requete = obtenu;
        g_variant_unref(r);
        const gint64 fin = g_get_monotonic_time() + static_cast<gint64>(delaiMs) * 1000;
        while (!attente.finie) {
            const gint64 reste = fin - g_get_monotonic_time();
            if (reste <= 0) break;
            GSource* reveil = g_timeout_source_new(static_cast<guint>(reste / 1000 + 1));
            g_source_set_callback(reveil, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
            g_source_attach(reveil, contexte);
            g_main_context_iteration(contexte, TRUE);
            g_source_destroy(reveil);
            g_source_unref(reveil);
        }
        g_dbus_connection_signal_unsubscribe(bus, abonnement);
        if (!attente.finie) {
            // A dialog left open: close the request so the portal forgets it.
            GVariant* c = g_dbus_connection_call_sync(bus, kBus, requete.c_str(), "org.freedesktop.portal.Request", "Close",
                                                      nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, kAppelMs, nullptr, nullptr);
            if (c) g_variant_unref(c);
            return std::nullopt;
        }
        if (g_getenv("VIMBA_PORTAIL_JOURNAL")) g_printerr("portail: %s: code %u%s\n", methode, attente.code, attente.finie ? "" : " (sans reponse)");
        if (attente.code != 0) {
            if (attente.resultats) g_variant_unref(attente.resultats);
            return std::nullopt;
        }
        return attente.resultats;
    }

    void fermerSession() {
        if (abonnementFerme) g_dbus_connection_signal_unsubscribe(bus, abonnementFerme);
        abonnementFerme = 0;
        std::string s;
        {
            std::lock_guard v(verrou);
            s.swap(session);
            flux.reset();
            saisie = false;
        }
        if (s.empty()) return;
        GVariant* r = g_dbus_connection_call_sync(bus, kBus, s.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, kAppelMs, nullptr, nullptr);
        if (r) g_variant_unref(r);
    }

    // The whole dance on the portal thread: create, select, start. False leaves no session.
    bool ouvrirSession(bool avecSaisie) {
        const char* creer = avecSaisie ? kDistant : kEcran;
        GVariantBuilder o;
        const std::string jetonSession = jeton();
        g_variant_builder_init(&o, G_VARIANT_TYPE_VARDICT);
        std::string j = jeton();
        g_variant_builder_add(&o, "{sv}", "handle_token", g_variant_new_string(j.c_str()));
        g_variant_builder_add(&o, "{sv}", "session_handle_token", g_variant_new_string(jetonSession.c_str()));
        auto cree = demanderReponse(creer, "CreateSession", g_variant_new("(a{sv})", &o), j, kAppelMs);
        if (!cree) return false;
        std::string chemin;
        if (GVariant* poignee = g_variant_lookup_value(*cree, "session_handle", nullptr)) {
            // A string in the documented interface, an object path in some back ends.
            if (g_variant_is_of_type(poignee, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(poignee, G_VARIANT_TYPE_OBJECT_PATH))
                chemin = g_variant_get_string(poignee, nullptr);
            g_variant_unref(poignee);
        }
        g_variant_unref(*cree);
        if (chemin.empty()) return false;
        {
            std::lock_guard v(verrou);
            session = chemin;
        }
        abonnementFerme = g_dbus_connection_signal_subscribe(
            bus, kBus, "org.freedesktop.portal.Session", "Closed", chemin.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer d) {
                auto* e = static_cast<Etat*>(d);
                {
                    std::lock_guard v(e->verrou);
                    e->session.clear();
                    e->flux.reset();
                    e->saisie = false;
                }
                e->poser(EtatPortail::Ferme);
            },
            this, nullptr);
        // The remote desktop keeps the persistence on its devices; a screencast on its sources.
        const bool persisteSurAppareils = avecSaisie && proprieteU(bus, kDistant, "version") >= 2;
        auto ajouterPersistance = [&](GVariantBuilder& b) {
            g_variant_builder_add(&b, "{sv}", "persist_mode", g_variant_new_uint32(2));
            std::lock_guard v(verrou);
            if (!restauration.empty())
                g_variant_builder_add(&b, "{sv}", "restore_token", g_variant_new_string(restauration.c_str()));
        };
        if (avecSaisie) {
            GVariantBuilder b;
            g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
            j = jeton();
            g_variant_builder_add(&b, "{sv}", "handle_token", g_variant_new_string(j.c_str()));
            g_variant_builder_add(&b, "{sv}", "types", g_variant_new_uint32(1 | 2));  // keyboard, pointer
            if (persisteSurAppareils) ajouterPersistance(b);
            auto r = demanderReponse(kDistant, "SelectDevices", g_variant_new("(oa{sv})", chemin.c_str(), &b), j, kAppelMs);
            if (!r) return false;
            g_variant_unref(*r);
        }
        {
            GVariantBuilder b;
            g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
            j = jeton();
            g_variant_builder_add(&b, "{sv}", "handle_token", g_variant_new_string(j.c_str()));
            g_variant_builder_add(&b, "{sv}", "types", g_variant_new_uint32(1));  // a monitor
            g_variant_builder_add(&b, "{sv}", "multiple", g_variant_new_boolean(FALSE));
            // The pointer travels beside the picture, as on X11: its place as metadata where
            // the portal gives it, else out of the picture (the stream then says it is unknown).
            const std::uint32_t curseurs = proprieteU(bus, kEcran, "AvailableCursorModes");
            if (curseurs & 4)
                g_variant_builder_add(&b, "{sv}", "cursor_mode", g_variant_new_uint32(4));
            else if (curseurs & 1)
                g_variant_builder_add(&b, "{sv}", "cursor_mode", g_variant_new_uint32(1));
            if (!avecSaisie && proprieteU(bus, kEcran, "version") >= 4) ajouterPersistance(b);
            auto r = demanderReponse(kEcran, "SelectSources", g_variant_new("(oa{sv})", chemin.c_str(), &b), j, kAppelMs);
            if (!r) return false;
            g_variant_unref(*r);
        }
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
        j = jeton();
        g_variant_builder_add(&b, "{sv}", "handle_token", g_variant_new_string(j.c_str()));
        auto r = demanderReponse(creer, "Start", g_variant_new("(osa{sv})", chemin.c_str(), "", &b), j, kConsentementMs);
        if (!r) return false;
        FluxEcran f;
        bool trouve = false;
        if (GVariant* flots = g_variant_lookup_value(*r, "streams", G_VARIANT_TYPE("a(ua{sv})"))) {
            if (g_variant_n_children(flots) > 0) {
                GVariant* proprietes = nullptr;
                g_variant_get_child(flots, 0, "(u@a{sv})", &f.noeud, &proprietes);
                g_variant_lookup(proprietes, "position", "(ii)", &f.x, &f.y);
                g_variant_lookup(proprietes, "size", "(ii)", &f.largeur, &f.hauteur);
                g_variant_unref(proprietes);
                trouve = true;
            }
            g_variant_unref(flots);
        }
        std::uint32_t appareils = 0;
        g_variant_lookup(*r, "devices", "u", &appareils);
        const gchar* jetonRetour = nullptr;
        if (g_variant_lookup(*r, "restore_token", "&s", &jetonRetour)) {
            std::lock_guard v(verrou);
            restauration = jetonRetour;
        }
        g_variant_unref(*r);
        if (!trouve) return false;
        std::lock_guard v(verrou);
        flux = f;
        saisie = avecSaisie && (appareils & 3) == 3;
        return true;
    }

    void lancerSession() {
        if (!bus) {
            poser(EtatPortail::Refuse);
            return;
        }
        // wlroots desktops have no RemoteDesktop portal; one offered there belongs to another
        // desktop's back end and cannot serve this compositor.
        const bool distant = bureauCourant().compositeur != Compositeur::Wlroots && proprieteU(bus, kDistant, "version") > 0;
        bool ok = distant && ouvrirSession(true);
        if (!ok) {
            if (distant) fermerSession();
            ok = ouvrirSession(false);
        }
        if (!ok) fermerSession();
        poser(ok ? EtatPortail::Accorde : EtatPortail::Refuse);
    }
};

Portail& Portail::commun() {
    // Never destroyed: the portal thread may still be answering while the process exits.
    static Portail* p = new Portail();
    return *p;
}

Portail::Portail() : e_(new Etat) {
    e_->bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (e_->bus) {
        std::string nom = g_dbus_connection_get_unique_name(e_->bus);
        if (!nom.empty() && nom[0] == ':') nom.erase(0, 1);
        for (char& c : nom)
            if (c == '.') c = '_';
        e_->jetonPrefixe = nom;
    }
    std::promise<void> pret;
    auto attente = pret.get_future();
    std::thread([e = e_, &pret] {
        g_main_context_push_thread_default(e->contexte);
        GMainLoop* boucle = g_main_loop_new(e->contexte, FALSE);
        pret.set_value();
        g_main_loop_run(boucle);
    }).detach();
    attente.wait();
}

Portail::~Portail() = default;

void Portail::demander() {
    {
        std::lock_guard v(e_->verrou);
        if (e_->etat == EtatPortail::Accorde || e_->etat == EtatPortail::EnCours) return;
        e_->etat = EtatPortail::EnCours;
    }
    e_->surLeFil([e = e_] { e->lancerSession(); });
}

EtatPortail Portail::attendre(int millisecondes) {
    demander();
    std::unique_lock v(e_->verrou);
    e_->change.wait_for(v, std::chrono::milliseconds(millisecondes), [&] { return e_->etat != EtatPortail::EnCours; });
    return e_->etat;
}

EtatPortail Portail::etat() const {
    std::lock_guard v(e_->verrou);
    return e_->etat;
}

std::optional<FluxEcran> Portail::flux() const {
    std::lock_guard v(e_->verrou);
    return e_->flux;
}

int Portail::ouvrirPipeWire() {
    const std::string s = session();
    if (s.empty() || !flux()) return -1;
    GUnixFDList* recus = nullptr;
    GVariant* r = g_dbus_connection_call_with_unix_fd_list_sync(
        e_->bus, kBus, kChemin, kEcran, "OpenPipeWireRemote", g_variant_new("(oa{sv})", s.c_str(), nullptr),
        G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &recus, nullptr, nullptr);
    if (!r) return -1;
    gint32 indice = -1;
    g_variant_get(r, "(h)", &indice);
    g_variant_unref(r);
    const int fd = recus ? g_unix_fd_list_get(recus, indice, nullptr) : -1;
    if (recus) g_object_unref(recus);
    return fd;
}

bool Portail::saisieAccordee() const {
    std::lock_guard v(e_->verrou);
    return e_->saisie;
}

std::string Portail::session() const {
    std::lock_guard v(e_->verrou);
    return e_->etat == EtatPortail::Accorde ? e_->session : std::string();
}

namespace {
// One input event, once the previous one is answered: xdg-desktop-portal handles each call
// on a thread of its own, so calls in flight together can reach the back end out of order
// (a key's release before its press, and GNOME then drops the key).
bool envoyer(GDBusConnection* bus, const std::string& session, const char* methode, GVariant* corps) {
    if (session.empty() || !bus) {
        g_variant_unref(g_variant_ref_sink(corps));
        return false;
    }
    GVariant* r = g_dbus_connection_call_sync(bus, kBus, kChemin, kDistant, methode, corps, nullptr,
                                              G_DBUS_CALL_FLAGS_NO_AUTO_START, kAppelMs, nullptr, nullptr);
    if (r) g_variant_unref(r);
    return true;
}
GVariant* vide() { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); }
}  // namespace

bool Portail::pointeurAbsolu(double x, double y) {
    if (!saisieAccordee()) return false;
    const auto f = flux();
    return envoyer(e_->bus, session(), "NotifyPointerMotionAbsolute",
                   g_variant_new("(o@a{sv}udd)", session().c_str(), vide(), f ? f->noeud : 0u, x, y));
}

bool Portail::bouton(int code, bool presse) {
    if (!saisieAccordee()) return false;
    return envoyer(e_->bus, session(), "NotifyPointerButton",
                   g_variant_new("(o@a{sv}iu)", session().c_str(), vide(), code, presse ? 1u : 0u));
}

bool Portail::defilerDiscret(int axe, int crans) {
    if (!saisieAccordee()) return false;
    return envoyer(e_->bus, session(), "NotifyPointerAxisDiscrete",
                   g_variant_new("(o@a{sv}ui)", session().c_str(), vide(), static_cast<std::uint32_t>(axe), crans));
}

bool Portail::defiler(double dx, double dy) {
    if (!saisieAccordee()) return false;
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&b, "{sv}", "finish", g_variant_new_boolean(TRUE));
    return envoyer(e_->bus, session(), "NotifyPointerAxis", g_variant_new("(oa{sv}dd)", session().c_str(), &b, dx, dy));
}

bool Portail::toucheSymbole(std::uint32_t keysym, bool presse) {
    if (!saisieAccordee()) return false;
    return envoyer(e_->bus, session(), "NotifyKeyboardKeysym",
                   g_variant_new("(o@a{sv}iu)", session().c_str(), vide(), static_cast<gint32>(keysym), presse ? 1u : 0u));
}

void Portail::vider(int millisecondes) {
    if (!e_->bus) return;
    auto fait = std::make_shared<std::promise<void>>();
    auto attente = fait->get_future();
    e_->surLeFil([e = e_, fait] {
        g_dbus_connection_flush(
            e->bus, nullptr,
            [](GObject* source, GAsyncResult* res, gpointer d) {
                g_dbus_connection_flush_finish(G_DBUS_CONNECTION(source), res, nullptr);
                auto* p = static_cast<std::shared_ptr<std::promise<void>>*>(d);
                (*p)->set_value();
                delete p;
            },
            new std::shared_ptr<std::promise<void>>(fait));
    });
    attente.wait_for(std::chrono::milliseconds(millisecondes));
}

void Portail::fermer() {
    auto fait = std::make_shared<std::promise<void>>();
    auto attente = fait->get_future();
    e_->surLeFil([e = e_, fait] {
        e->fermerSession();
        e->poser(EtatPortail::Ferme);
        fait->set_value();
    });
    attente.wait_for(std::chrono::milliseconds(kAppelMs));
}

}  // namespace vimba::wayland
