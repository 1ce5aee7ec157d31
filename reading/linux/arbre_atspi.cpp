#include "reading/linux/arbre_atspi.h"

#include <X11/Xlib.h>
#include <atspi/atspi.h>
#include <gio/gio.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>

#include "agent/linux/devant.h"
#include "agent/linux/ecran_x11.h"
#include "reading/linux/cache_atspi.h"
#include "reading/roles.h"

namespace vimba::lecture {

namespace {

constexpr int fenetreAvance = 16;      // siblings asked ahead of the walk
constexpr int texteMaximum = 2048;     // characters of a text's contents read as its value

// The private connection to the accessibility bus, opened on first use and kept.
GDBusConnection* busAccessibilite() {
    static GDBusConnection* const bus = []() -> GDBusConnection* {
        GError* err = nullptr;
        GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
        if (!session) {
            g_clear_error(&err);
            return nullptr;
        }
        GVariant* r = g_dbus_connection_call_sync(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                                  nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &err);
        g_object_unref(session);
        if (!r) {
            g_clear_error(&err);
            return nullptr;
        }
        const gchar* adresse = nullptr;
        g_variant_get(r, "(&s)", &adresse);
        GDBusConnection* c = g_dbus_connection_new_for_address_sync(
            adresse,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &err);
        g_variant_unref(r);
        g_clear_error(&err);
        if (c) g_dbus_connection_set_exit_on_close(c, FALSE);
        return c;
    }();
    return bus;
}

std::string decimal(double v) {
    if (!std::isfinite(v)) return "";
    if (v == std::trunc(v) && std::fabs(v) < 1e15) return std::to_string(static_cast<long long>(v));
    char b[64];
    auto [fin, ec] = std::to_chars(b, b + sizeof b, v);
    return ec == std::errc() ? std::string(b, fin) : "";
}

bool roleCoche(unsigned r) {
    return r == ATSPI_ROLE_CHECK_BOX || r == ATSPI_ROLE_RADIO_BUTTON || r == ATSPI_ROLE_TOGGLE_BUTTON ||
           r == ATSPI_ROLE_CHECK_MENU_ITEM || r == ATSPI_ROLE_RADIO_MENU_ITEM;
}

bool etat(const std::uint32_t (&etats)[2], AtspiStateType e) { return (etats[e / 32] >> (e % 32)) & 1; }

enum class Sorte { Indice, Role, Proprietes, Interfaces, Enfants, Valeur, Texte, Etat, Cadre, Relations, NomEtiquette, Tout };

// Roles whose value is a number (the Value interface).
bool roleChiffre(unsigned r) {
    return r == ATSPI_ROLE_SLIDER || r == ATSPI_ROLE_SPIN_BUTTON || r == ATSPI_ROLE_SCROLL_BAR ||
           r == ATSPI_ROLE_PROGRESS_BAR || r == ATSPI_ROLE_LEVEL_BAR || r == ATSPI_ROLE_DIAL || r == ATSPI_ROLE_SPLIT_PANE;
}

// Roles whose text is what the user typed rather than their name.
bool roleSaisie(unsigned r) {
    return r == ATSPI_ROLE_TEXT || r == ATSPI_ROLE_ENTRY || r == ATSPI_ROLE_PASSWORD_TEXT || r == ATSPI_ROLE_TERMINAL ||
           r == ATSPI_ROLE_DOCUMENT_TEXT || r == ATSPI_ROLE_EDITBAR || r == ATSPI_ROLE_AUTOCOMPLETE;
}

// Above this many children, a child's reference is asked for only when the walk gets near
// it: GTK3 containers answer for each child in time proportional to their size, so a
// list of thousands costs seconds in one GetChildren.
constexpr std::int32_t familleNombreuse = 64;

class ArbreAtspi final : public Arbre {
public:
    ArbreAtspi(GDBusConnection* bus, std::string nomBus, std::string chemin, int ox, int oy, int delaiMs)
        : bus_(G_DBUS_CONNECTION(g_object_ref(bus))), ctx_(g_main_context_new()), annuler_(g_cancellable_new()),
          ox_(ox), oy_(oy), delai_(delaiMs) {
        noeuds_.emplace_back();
        noeuds_.back().bus = std::move(nomBus);
        noeuds_.back().chemin = std::move(chemin);
    }
    ~ArbreAtspi() override {
        // Answers still on their way come back cancelled; wait for them so none outlives us.
        g_cancellable_cancel(annuler_);
        while (enVol_ > 0) g_main_context_iteration(ctx_, TRUE);
        g_object_unref(annuler_);
        g_main_context_unref(ctx_);
        g_object_unref(bus_);
    }
    ArbreAtspi(const ArbreAtspi&) = delete;
    ArbreAtspi& operator=(const ArbreAtspi&) = delete;

    Noeud racine() override { return 0; }

    bool montre(Noeud n) override {
        noeuds_[n].sonde = true;
        lancerEtat(n);
        avancer(n, false);
        attendre(n);
        const Donnees& d = noeuds_[n];
        // Hidden means visible yet not showing (a closed menu, a page behind a tab). A node that
        // claims neither says nothing of itself: the web view's wrappers do that above the page.
        return !d.etatLu || !etat(d.etats, ATSPI_STATE_VISIBLE) || etat(d.etats, ATSPI_STATE_SHOWING);
    }

    Infos infos(Noeud n) override {
        lancer(n);
        avancer(n, true);
        attendre(n);
        // Its first children are the walk's next stop: whether they show, first; all of them
        // in a walk that reads without asking (the one through hidden parts).
        const bool sansSonde = n != 0 && !noeuds_[n].sonde;
        for (std::size_t i = 0; i < noeuds_[n].enfants.size() && i < fenetreAvance; ++i)
            sansSonde ? lancer(noeuds_[n].enfants[i]) : lancerEtat(noeuds_[n].enfants[i]);
        Donnees& e = noeuds_[n];
        Infos r;
        // GTK gives entries the text role; a single line is what the technician calls a field.
        r.role = e.role == ATSPI_ROLE_TEXT && etat(e.etats, ATSPI_STATE_SINGLE_LINE) ? "AXTextField" : roleAX(e.role);
        r.titre = e.nom;
        r.description = e.description;
        r.valeur = e.valeur;
        if (!r.valeur && e.etatLu && roleCoche(e.role)) r.valeur = etat(e.etats, ATSPI_STATE_CHECKED) ? "1" : "0";
        r.actif = etat(e.etats, ATSPI_STATE_ACTIVE);
        r.modal = etat(e.etats, ATSPI_STATE_MODAL);
        return r;
    }

    void prevoirCadre(Noeud n) override {
        noeuds_[n].veutCadre = true;
        suite(n);
    }

    Cadre cadre(Noeud n) override {
        prevoirCadre(n);
        attendre(n);
        return noeuds_[n].cadre;
    }

    std::vector<Noeud> enfants(Noeud n) override {
        lancer(n);
        attendre(n);
        return noeuds_[n].enfants;
    }

    std::optional<std::string> etiquette(Noeud n) override {
        lancer(n);
        attendre(n);
        Donnees& d = noeuds_[n];
        if (!d.etiquetteLancee && !panne_) {
            d.etiquetteLancee = true;
            g_main_context_push_thread_default(ctx_);
            appeler(n, Sorte::Relations, "org.a11y.atspi.Accessible", "GetRelationSet", nullptr, "(a(ua(so)))");
            g_main_context_pop_thread_default(ctx_);
            attendre(n);
        }
        return noeuds_[n].etiquette;
    }

    // The application's own cache of its tree, in one answer: roles, names, states, the
    // interfaces and where each object sits. The toolkit lists thousands of objects far
    // faster this way than child by child; an application without one is walked as before.
    void prevoirTout() override {
        if (toutDemande_ || panne_) return;
        toutDemande_ = true;
        g_main_context_push_thread_default(ctx_);
        appeler(0, Sorte::Tout, noeuds_[0].bus, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", "GetItems", nullptr,
                "(a((so)(so)(so)iiassusau))");
        g_main_context_pop_thread_default(ctx_);
        attendre(0);
    }

    bool enPanne() const override { return panne_; }

private:
    static constexpr Noeud aucun = ~Noeud{0};

    struct Donnees {
        std::string bus, chemin;
        Noeud parent = aucun;
        std::size_t rang = 0;
        std::int64_t dernierLu = -1;  // the rank of the child the walk read last
        // Wanted: the states alone, or everything; sent: the child's reference, the states,
        // the rest. A child of a large family is asked for its reference first.
        bool veutEtat = false, veutTout = false, indiceLance = false, etatLance = false, toutLance = false;
        bool cadreLance = false;
        int attendus = 0;
        unsigned role = 0;
        gint32 compte = -1;  // ChildCount, when the object gave it
        bool sonde = false;  // the walk asked whether it shows
        bool roleLu = false, proprietesLues = false, etatLu = false, etiquetteLancee = false;
        // The interfaces are asked only for a value or a frame: an object asked through an
        // interface it lacks complains on its own error output.
        bool interfacesLancees = false, interfacesLues = false, veutValeur = false, veutCadre = false;
        bool aValeur = false, aTexte = false, aComposant = false;
        std::uint32_t etats[2] = {0, 0};
        std::optional<std::string> nom, description, valeur, etiquette;
        std::vector<Noeud> enfants;
        Cadre cadre;
    };

    struct Appel {
        ArbreAtspi* arbre;
        Noeud n;
        Sorte sorte;
    };

    // Asks object `objet` (the node itself unless told) on behalf of node n.
    void appeler(Noeud n, Sorte sorte, const char* interface, const char* methode, GVariant* args, const char* type,
                 Noeud objet = aucun) {
        const Donnees& d = noeuds_[objet == aucun ? n : objet];
        appeler(n, sorte, d.bus, d.chemin, interface, methode, args, type);
    }
    void appeler(Noeud n, Sorte sorte, const std::string& bus, const std::string& chemin, const char* interface,
                 const char* methode, GVariant* args, const char* type) {
        ++noeuds_[n].attendus;
        ++enVol_;
        g_dbus_connection_call(bus_, bus.c_str(), chemin.c_str(), interface, methode, args, G_VARIANT_TYPE(type),
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, delai_, annuler_, &ArbreAtspi::recu,
                               new Appel{this, n, sorte});
    }

    void lancerEtat(Noeud n) {
        if (noeuds_[n].veutEtat || panne_) return;
        noeuds_[n].veutEtat = true;
        envoyer(n);
    }

    void lancer(Noeud n) {
        Donnees& d = noeuds_[n];
        if (d.veutTout || panne_) return;
        d.veutTout = true;
        envoyer(n);
    }

    void envoyer(Noeud n) {
        Donnees& d = noeuds_[n];
        if (d.chemin.empty() && d.parent != aucun) {
            const auto p = connus_.find(noeuds_[d.parent].chemin);
            if (p != connus_.end() && p->second.enfantsComplets && d.rang < p->second.enfants.size()) {
                d.bus = noeuds_[0].bus;
                d.chemin = p->second.enfants[d.rang];
            }
        }
        if (!d.chemin.empty() && depuisCache(n)) return;
        // The thread-default context receives the answers, so only our own loop runs them.
        g_main_context_push_thread_default(ctx_);
        if (d.chemin.empty()) {
            if (!d.indiceLance) {
                d.indiceLance = true;
                appeler(n, Sorte::Indice, "org.a11y.atspi.Accessible", "GetChildAtIndex",
                        g_variant_new("(i)", static_cast<gint32>(d.rang)), "((so))", d.parent);
            }
        } else {
            // On screen or not, and for windows, which one is in front.
            if (d.veutEtat && !d.etatLance) {
                d.etatLance = true;
                appeler(n, Sorte::Etat, "org.a11y.atspi.Accessible", "GetState", nullptr, "(au)");
            }
            if (d.veutTout && !d.toutLance) {
                d.toutLance = true;
                demander(n);
            }
        }
        g_main_context_pop_thread_default(ctx_);
    }

    // Whatever the application's cache says of the node is not asked again.
    bool depuisCache(Noeud n) {
        const auto it = connus_.find(noeuds_[n].chemin);
        if (it == connus_.end()) return false;
        const Connu& c = it->second;
        Donnees& d = noeuds_[n];
        if (!d.etatLance) {
            d.etatLance = d.etatLu = true;
            d.etats[0] = c.etats[0];
            d.etats[1] = c.etats[1];
        }
        if (d.toutLance) return true;
        d.toutLance = true;
        if (!d.interfacesLancees) {
            d.interfacesLancees = d.interfacesLues = true;
            d.aValeur = c.aValeur;
            d.aTexte = c.aTexte;
            d.aComposant = c.aComposant;
        }
        d.role = c.role;
        d.nom = c.nom;
        d.description = c.description;
        d.compte = c.compte;
        d.roleLu = d.proprietesLues = true;
        if (d.enfants.empty()) {
            if (c.enfantsComplets)
                for (const auto& e : c.enfants) ajouterEnfant(n, noeuds_[0].bus, e);
            else
                lancerEnfants(n);
        }
        completer(n);
        return true;
    }

    // Its children once their number is known. A large family's references are asked
    // for one by one as the walk reaches them.
    void lancerEnfants(Noeud n) {
        const gint32 nombre = noeuds_[n].compte;
        if (nombre > familleNombreuse) {
            for (gint32 i = 0; i < nombre; ++i) ajouterEnfant(n, "", "");
        } else if (nombre != 0) {
            g_main_context_push_thread_default(ctx_);
            appeler(n, Sorte::Enfants, "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))");
            g_main_context_pop_thread_default(ctx_);
        }
    }

    // The walk reads the next siblings soon: ask for them now (their states, or all), going
    // the way its last two reads went: one by one, stepping over a hidden run, or back.
    void avancer(Noeud n, bool tout) {
        const Noeud p = noeuds_[n].parent;
        if (p == aucun) return;
        Donnees& parent = noeuds_[p];
        const auto rang = static_cast<std::int64_t>(noeuds_[n].rang);
        const auto total = static_cast<std::int64_t>(parent.enfants.size());
        const std::int64_t pas = parent.dernierLu >= 0 && rang != parent.dernierLu ? rang - parent.dernierLu : 1;
        parent.dernierLu = rang;
        for (std::int64_t k = 1, i = rang + pas; k <= fenetreAvance && i >= 0 && i < total; ++k, i += pas) {
            const Noeud frere = parent.enfants[static_cast<std::size_t>(i)];
            if (tout)
                lancer(frere);
            else
                lancerEtat(frere);
        }
    }

    // The node's own attributes; its children once their number is known, the rest once its
    // role and name are. Each message costs the application about as much as the answer,
    // so nothing is asked that the role makes useless.
    void demander(Noeud n) {
        appeler(n, Sorte::Role, "org.a11y.atspi.Accessible", "GetRole", nullptr, "(u)");
        appeler(n, Sorte::Proprietes, "org.freedesktop.DBus.Properties", "GetAll",
                g_variant_new("(s)", "org.a11y.atspi.Accessible"), "(a{sv})");
    }

    // A node read without the walk asking whether it shows gets its states only where they
    // change what is listed (text of one line or many, check marks), and its value where it
    // may not be its name again.
    void completer(Noeud n) {
        Donnees& d = noeuds_[n];
        if (!d.roleLu || !d.proprietesLues || panne_) return;
        if (d.role == ATSPI_ROLE_TEXT || roleCoche(d.role)) lancerEtat(n);
        if (roleChiffre(d.role) || roleSaisie(d.role) || !d.nom || d.nom->empty()) {
            d.veutValeur = true;
            suite(n);
        }
    }

    // What the interfaces were wanted for, once they are known; else they are asked.
    void suite(Noeud n) {
        Donnees& d = noeuds_[n];
        if (panne_ || d.chemin.empty()) return;
        g_main_context_push_thread_default(ctx_);
        if (!d.interfacesLues) {
            if (!d.interfacesLancees) {
                d.interfacesLancees = true;
                appeler(n, Sorte::Interfaces, "org.a11y.atspi.Accessible", "GetInterfaces", nullptr, "(as)");
            }
        } else {
            if (d.veutValeur && d.aValeur)
                appeler(n, Sorte::Valeur, "org.freedesktop.DBus.Properties", "Get",
                        g_variant_new("(ss)", "org.a11y.atspi.Value", "CurrentValue"), "(v)");
            else if (d.veutValeur && d.aTexte)
                appeler(n, Sorte::Texte, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, texteMaximum), "(s)");
            d.veutValeur = false;
            if (d.veutCadre && d.aComposant && !d.cadreLance) {
                d.cadreLance = true;
                appeler(n, Sorte::Cadre, "org.a11y.atspi.Component", "GetExtents", g_variant_new("(u)", 0u), "((iiii))");
            }
        }
        g_main_context_pop_thread_default(ctx_);
    }

    Noeud ajouterEnfant(Noeud parent, std::string bus, std::string chemin) {
        Donnees e;
        e.bus = std::move(bus);
        e.chemin = std::move(chemin);
        e.parent = parent;
        e.rang = noeuds_[parent].enfants.size();
        noeuds_.push_back(std::move(e));
        noeuds_[parent].enfants.push_back(noeuds_.size() - 1);
        return noeuds_.size() - 1;
    }

    void attendre(Noeud n) {
        while (noeuds_[n].attendus > 0 && !panne_) g_main_context_iteration(ctx_, TRUE);
    }

    static void recu(GObject* source, GAsyncResult* res, gpointer donnee) {
        Appel* a = static_cast<Appel*>(donnee);
        GError* err = nullptr;
        GVariant* v = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &err);
        a->arbre->traiter(a->n, a->sorte, v, err);
        if (v) g_variant_unref(v);
        if (err) g_error_free(err);
        delete a;
    }

    void traiter(Noeud n, Sorte sorte, GVariant* v, GError* err) {
        --enVol_;
        --noeuds_[n].attendus;
        // Without a cache, or too slow to give it, the tree is asked node by node.
        if (err && sorte == Sorte::Tout) return;
        if (err) {
            // A query that ran out of time means the application does not answer: stop.
            if (g_error_matches(err, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
                g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
                g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
                g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT))
                panne_ = true;
            return;
        }
        if (g_cancellable_is_cancelled(annuler_)) return;
        switch (sorte) {
            case Sorte::Role: {
                guint32 r = 0;
                g_variant_get(v, "(u)", &r);
                noeuds_[n].role = r;
                noeuds_[n].roleLu = true;
                completer(n);
                break;
            }
            case Sorte::Proprietes: {
                GVariant* dict = g_variant_get_child_value(v, 0);
                const gchar* s = nullptr;
                if (g_variant_lookup(dict, "Name", "&s", &s)) noeuds_[n].nom = s;
                if (g_variant_lookup(dict, "Description", "&s", &s)) noeuds_[n].description = s;
                gint32 nombre = 0;
                const bool compte = g_variant_lookup(dict, "ChildCount", "i", &nombre);
                g_variant_unref(dict);
                noeuds_[n].compte = compte ? nombre : -1;
                noeuds_[n].proprietesLues = true;
                completer(n);
                lancerEnfants(n);
                break;
            }
            case Sorte::Interfaces: {
                GVariantIter* it = nullptr;
                const gchar* s = nullptr;
                g_variant_get(v, "(as)", &it);
                Donnees& d = noeuds_[n];
                while (g_variant_iter_loop(it, "&s", &s)) {
                    const std::string i = s;
                    d.aValeur |= i == "org.a11y.atspi.Value";
                    d.aTexte |= i == "org.a11y.atspi.Text";
                    d.aComposant |= i == "org.a11y.atspi.Component";
                }
                g_variant_iter_free(it);
                d.interfacesLues = true;
                suite(n);
                break;
            }
            case Sorte::Enfants: {
                GVariantIter* it = nullptr;
                const gchar *bus = nullptr, *chemin = nullptr;
                g_variant_get(v, "(a(so))", &it);
                while (g_variant_iter_loop(it, "(&s&o)", &bus, &chemin))
                    // A null reference marks a child that went away.
                    if (std::strcmp(chemin, "/org/a11y/atspi/null")) ajouterEnfant(n, bus, chemin);
                g_variant_iter_free(it);
                // A socket lists none of the child another process embeds in it (the web
                // view's page): that one is only given by its index.
                if (noeuds_[n].enfants.empty())
                    for (gint32 i = 0; i < noeuds_[n].compte; ++i) ajouterEnfant(n, "", "");
                break;
            }
            case Sorte::Indice: {
                const gchar *bus = nullptr, *chemin = nullptr;
                g_variant_get(v, "((&s&o))", &bus, &chemin);
                if (std::strcmp(chemin, "/org/a11y/atspi/null")) {
                    noeuds_[n].bus = bus;
                    noeuds_[n].chemin = chemin;
                    envoyer(n);
                }
                break;
            }
            case Sorte::Valeur: {
                GVariant* interne = nullptr;
                g_variant_get(v, "(v)", &interne);
                if (g_variant_is_of_type(interne, G_VARIANT_TYPE_DOUBLE)) noeuds_[n].valeur = decimal(g_variant_get_double(interne));
                g_variant_unref(interne);
                break;
            }
            case Sorte::Texte: {
                const gchar* s = nullptr;
                g_variant_get(v, "(&s)", &s);
                noeuds_[n].valeur = s;
                break;
            }
            case Sorte::Etat: {
                GVariantIter* it = nullptr;
                guint32 mot = 0, i = 0;
                Donnees& d = noeuds_[n];
                g_variant_get(v, "(au)", &it);
                while (i < 2 && g_variant_iter_next(it, "u", &mot)) d.etats[i++] = mot;
                g_variant_iter_free(it);
                d.etatLu = true;
                break;
            }
            case Sorte::Relations: {
                GVariantIter* relations = nullptr;
                GVariantIter* cibles = nullptr;
                guint32 type = 0;
                std::string bus, chemin;
                g_variant_get(v, "(a(ua(so)))", &relations);
                while (chemin.empty() && g_variant_iter_next(relations, "(ua(so))", &type, &cibles)) {
                    const gchar *b = nullptr, *c = nullptr;
                    while (type == ATSPI_RELATION_LABELLED_BY && chemin.empty() && g_variant_iter_next(cibles, "(&s&o)", &b, &c))
                        if (std::strcmp(c, "/org/a11y/atspi/null")) {
                            bus = b;
                            chemin = c;
                        }
                    g_variant_iter_free(cibles);
                }
                g_variant_iter_free(relations);
                if (!chemin.empty()) {
                    g_main_context_push_thread_default(ctx_);
                    appeler(n, Sorte::NomEtiquette, bus, chemin, "org.freedesktop.DBus.Properties", "Get",
                            g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)");
                    g_main_context_pop_thread_default(ctx_);
                }
                break;
            }
            case Sorte::NomEtiquette: {
                GVariant* interne = nullptr;
                g_variant_get(v, "(v)", &interne);
                if (g_variant_is_of_type(interne, G_VARIANT_TYPE_STRING) && *g_variant_get_string(interne, nullptr))
                    noeuds_[n].etiquette = g_variant_get_string(interne, nullptr);
                g_variant_unref(interne);
                break;
            }
            case Sorte::Tout:
                connus_ = lireCache(v);
                break;
            case Sorte::Cadre: {
                gint32 x = 0, y = 0, l = 0, h = 0;
                g_variant_get(v, "((iiii))", &x, &y, &l, &h);
                // Widgets that are not on screen give INT_MIN positions: no frame at all.
                if (x != INT_MIN && y != INT_MIN && l > 0 && h > 0)
                    noeuds_[n].cadre = Cadre{double(x) - ox_, double(y) - oy_, double(l), double(h)};
                break;
            }
        }
    }

    GDBusConnection* bus_;
    GMainContext* ctx_;
    GCancellable* annuler_;
    int ox_, oy_, delai_;
    std::deque<Donnees> noeuds_;
    int enVol_ = 0;
    bool panne_ = false;
    bool toutDemande_ = false;
    std::unordered_map<std::string, Connu> connus_;
};

x11::Moniteur moniteur() {
    static Display* const d = XOpenDisplay(nullptr);
    return d ? x11::moniteurPrincipal(d) : x11::Moniteur{};
}

}  // namespace

std::unique_ptr<Arbre> arbreApplication(int pid, int delaiMs) {
    if (!x11::atspiPret()) return nullptr;
    // Bounds the calls libatspi itself makes while finding the application.
    atspi_set_timeout(delaiMs, delaiMs);
    GDBusConnection* bus = busAccessibilite();
    if (!bus) return nullptr;
    AtspiAccessible* app = x11::applicationAtspi(pid);
    if (!app) return nullptr;
    std::string nomBus = app->parent.app && app->parent.app->bus_name ? app->parent.app->bus_name : "";
    std::string chemin = app->parent.path ? app->parent.path : "";
    g_object_unref(app);
    if (nomBus.empty() || chemin.empty()) return nullptr;
    const x11::Moniteur m = moniteur();
    return std::make_unique<ArbreAtspi>(bus, std::move(nomBus), std::move(chemin), m.x, m.y, delaiMs);
}

}  // namespace vimba::lecture
