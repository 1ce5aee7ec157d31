#include "app/fenetre.h"

#include <jsc/jsc.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "app/pont.h"

namespace vimba {
namespace {

const char* const schema = "vimba-ressources";

bool surLeFilPrincipal() { return g_main_context_is_owner(g_main_context_default()); }

void poster(std::function<void()> f) {
    auto* p = new std::function<void()>(std::move(f));
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer d) -> gboolean {
            (*static_cast<std::function<void()>*>(d))();
            return G_SOURCE_REMOVE;
        },
        p, [](gpointer d) { delete static_cast<std::function<void()>*>(d); });
}

void posterEtAttendre(std::function<void()> f) {
    if (surLeFilPrincipal()) return f();
    std::promise<void> fait;
    poster([&] {
        f();
        fait.set_value();
    });
    fait.get_future().wait();
}

const char* const cleDossier = "vimba-dossier";

bool deNosRessources(const char* uri) {
    gchar* s = uri ? g_uri_parse_scheme(uri) : nullptr;
    bool oui = s && g_ascii_strcasecmp(s, schema) == 0;
    g_free(s);
    return oui;
}

// The page's folder, resolved once; empty when it cannot be, so that nothing is ever read
// relative to the current directory.
std::string resoudre(const std::string& dossier) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::path(dossier).is_absolute()) return {};
    fs::path c = fs::canonical(dossier, ec);
    if (ec || !fs::is_directory(c, ec)) return {};
    return c.string();
}

void refuser(WebKitURISchemeRequest* requete, int code, const char* pourquoi) {
    GError* e = g_error_new_literal(G_IO_ERROR, code, pourquoi);
    webkit_uri_scheme_request_finish_error(requete, e);
    g_error_free(e);
}

// Serves files of the requesting view's folder only; anything that resolves outside it, or
// any request when that folder is unknown, is refused.
void servir(WebKitURISchemeRequest* requete, gpointer) {
    namespace fs = std::filesystem;
    WebKitWebView* vue = webkit_uri_scheme_request_get_web_view(requete);
    auto* racine = vue ? static_cast<std::string*>(g_object_get_data(G_OBJECT(vue), cleDossier)) : nullptr;
    if (!racine || racine->empty()) return refuser(requete, G_IO_ERROR_PERMISSION_DENIED, "ressources introuvables");
    fs::path base(*racine);
    std::error_code ec;
    fs::path voulu = fs::weakly_canonical(base / fs::path(webkit_uri_scheme_request_get_path(requete)).relative_path(), ec);
    auto [fin, _] = std::mismatch(base.begin(), base.end(), voulu.begin(), voulu.end());
    if (ec || fin != base.end() || !fs::is_regular_file(voulu, ec)) return refuser(requete, G_IO_ERROR_NOT_FOUND, "introuvable");
    GFile* f = g_file_new_for_path(voulu.c_str());
    GFileInputStream* flux = g_file_read(f, nullptr, nullptr);
    gchar* type = g_content_type_guess(voulu.c_str(), nullptr, 0, nullptr);
    gchar* mime = g_content_type_get_mime_type(type);
    if (flux) {
        webkit_uri_scheme_request_finish(requete, G_INPUT_STREAM(flux), gssize(fs::file_size(voulu, ec)), mime);
        g_object_unref(flux);
    } else {
        refuser(requete, G_IO_ERROR_FAILED, "illisible");
    }
    g_free(mime);
    g_free(type);
    g_object_unref(f);
}

// The view shows our pages and nothing else: a dropped link, a script or a load asked from
// outside would otherwise bring in a page that could post to the bridge.
gboolean decider(WebKitWebView*, WebKitPolicyDecision* d, WebKitPolicyDecisionType type, gpointer) {
    bool permis = false;
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        // What the view cannot show is never saved as a download either.
        permis = webkit_response_policy_decision_is_mime_type_supported(WEBKIT_RESPONSE_POLICY_DECISION(d));
    } else if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        WebKitNavigationAction* a = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(d));
        permis = deNosRessources(webkit_uri_request_get_uri(webkit_navigation_action_get_request(a)));
    }
    if (permis) webkit_policy_decision_use(d);
    else webkit_policy_decision_ignore(d);
    return TRUE;
}

const char* const style =
    "window.vimba { background-color: rgb(243, 244, 242); }"
    "button.vimba-fermer { min-width: 24px; min-height: 24px; padding: 2px; margin: 8px;"
    "  border-radius: 12px; background: rgba(0,0,0,0.06); border: none; box-shadow: none; }"
    "button.vimba-fermer:hover { background: rgba(0,0,0,0.14); }";

}  // namespace

Fenetre::Fenetre(Agent& agent, std::string dossierPage, Programmes programmes)
    : agent_(agent), dossierPage_(std::move(dossierPage)), programmes_(std::move(programmes)),
      vivant_(std::make_shared<Fenetre*>(this)) {
    std::weak_ptr<Fenetre*> vivant = vivant_;
    auto siVivant = [vivant](auto f) {
        return [vivant, f] {
            if (auto p = vivant.lock()) f(**p);
        };
    };
    Cycle::Liens l;
    Programmes prog = programmes_;
    l.lancer = [prog](const std::vector<std::string>& a, bool admin) { return lancerAvec(prog, a, admin); };
    // Background threads may outlive the window (tests make several): they reach it only
    // through the shared notice queue and through work posted to the main thread.
    auto file = file_;
    l.repondre = [siVivant, file](const std::string& s, const std::string& t) {
        {
            std::lock_guard<std::mutex> v(file->verrou);
            file->scripts.push_back(scriptReponse(s, t));
        }
        poster(siVivant([](Fenetre& f) { f.vider(); }));
    };
    l.enFond = [](Cycle::Tache t) { std::thread(std::move(t)).detach(); };
    l.surPrincipal = [siVivant](Cycle::Tache t) { poster(siVivant([t](Fenetre&) { t(); })); };
    l.surPrincipalAttendu = [](Cycle::Tache t) { posterEtAttendre(std::move(t)); };
    l.dormir = [](double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); };
    l.montrerSession = siVivant([](Fenetre& f) { f.montrerSession(); });
    l.cacherSession = siVivant([](Fenetre& f) { f.cacherSession(); });
    l.agitDepuis = [vivant](double s) {
        auto p = vivant.lock();
        return p && (*p)->agent_.agitDepuis(s);
    };
    cycle_ = std::make_shared<Cycle>(std::move(l));
}

Fenetre::~Fenetre() {
    arreterVeille();
    vivant_.reset();
    if (fenetre_) gtk_widget_destroy(GTK_WIDGET(fenetre_));
}

void Fenetre::montrer() {
    WebKitWebContext* contexte = webkit_web_context_get_default();
    static bool schemaPris = false;
    if (!schemaPris) {
        webkit_web_context_register_uri_scheme(contexte, schema, servir, nullptr, nullptr);
        webkit_security_manager_register_uri_scheme_as_secure(webkit_web_context_get_security_manager(contexte), schema);
        schemaPris = true;
    }
    WebKitUserContentManager* contenu = webkit_user_content_manager_new();
    g_signal_connect(contenu, "script-message-received::vimba", G_CALLBACK(recu), this);
    webkit_user_content_manager_register_script_message_handler(contenu, "vimba");
    vue_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(contenu));
    g_object_unref(contenu);
    auto* dossier = new std::string(resoudre(dossierPage_));
    if (dossier->empty()) g_printerr("depannage-vimba : dossier des ressources introuvable (« %s »)\n", dossierPage_.c_str());
    g_object_set_data_full(G_OBJECT(vue_), cleDossier, dossier, [](gpointer p) { delete static_cast<std::string*>(p); });
    g_signal_connect(vue_, "decide-policy", G_CALLBACK(decider), nullptr);
    GdkRGBA transparent{0, 0, 0, 0};
    webkit_web_view_set_background_color(vue_, &transparent);
    g_signal_connect(vue_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer moi) {
                         if (e == WEBKIT_LOAD_FINISHED) static_cast<Fenetre*>(moi)->direLesAutorisations();
                     }),
                     this);

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, style, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    fenetre_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_style_context_add_class(gtk_widget_get_style_context(GTK_WIDGET(fenetre_)), "vimba");
    gtk_window_set_title(fenetre_, "Dépannage Vimba");
    gtk_window_set_icon_name(fenetre_, "depannage-vimba");
    // Our own header, drawn over the page: a close button and a strip to drag the window by.
    gtk_window_set_decorated(fenetre_, FALSE);
    fixerTaille(largeur, hauteur);

    GtkWidget* calques = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(calques), GTK_WIDGET(vue_));
    GtkWidget* poignee = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(poignee), FALSE);
    gtk_widget_set_valign(poignee, GTK_ALIGN_START);
    gtk_widget_set_size_request(poignee, -1, 40);
    g_signal_connect(poignee, "button-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer) -> gboolean {
                         if (e->button != 1 || e->type != GDK_BUTTON_PRESS) return FALSE;
                         gtk_window_begin_move_drag(GTK_WINDOW(gtk_widget_get_toplevel(w)), 1, int(e->x_root),
                                                    int(e->y_root), e->time);
                         return TRUE;
                     }),
                     nullptr);
    GtkWidget* fermer = gtk_button_new_from_icon_name("window-close-symbolic", GTK_ICON_SIZE_MENU);
    gtk_widget_set_tooltip_text(fermer, "Fermer");
    // The keyboard belongs to the page, which has its own "Quitter" button.
    gtk_widget_set_can_focus(fermer, FALSE);
    atk_object_set_name(gtk_widget_get_accessible(fermer), "Fermer");
    gtk_style_context_add_class(gtk_widget_get_style_context(fermer), "vimba-fermer");
    gtk_widget_set_halign(fermer, GTK_ALIGN_END);
    gtk_widget_set_valign(fermer, GTK_ALIGN_START);
    g_signal_connect_swapped(fermer, "clicked", G_CALLBACK(+[](gpointer moi) { static_cast<Fenetre*>(moi)->terminer(); }), this);
    gtk_overlay_add_overlay(GTK_OVERLAY(calques), poignee);
    gtk_overlay_add_overlay(GTK_OVERLAY(calques), fermer);
    gtk_container_add(GTK_CONTAINER(fenetre_), calques);
    g_signal_connect(fenetre_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer moi) {
                         static_cast<Fenetre*>(moi)->terminer();
                         return TRUE;
                     }),
                     this);

    gtk_window_set_position(fenetre_, GTK_WIN_POS_CENTER);
    gtk_widget_show_all(GTK_WIDGET(fenetre_));
    gtk_window_present(fenetre_);
    gtk_widget_grab_focus(GTK_WIDGET(vue_));
    webkit_web_view_load_uri(vue_, (std::string(schema) + ":///interface.html").c_str());
}

void Fenetre::recu(WebKitUserContentManager*, WebKitJavascriptResult* r, gpointer donnees) {
    auto* moi = static_cast<Fenetre*>(donnees);
    if (!moi->vue_ || !deNosRessources(webkit_web_view_get_uri(moi->vue_))) return;
    JSCValue* corps = webkit_javascript_result_get_js_value(r);
    if (!jsc_value_is_object(corps) || jsc_value_is_array(corps) || jsc_value_is_function(corps)) return;
    JSCValue* action = jsc_value_object_get_property(corps, "action");
    bool valable = jsc_value_is_string(action);
    MessagePage m;
    if (valable) {
        gchar* a = jsc_value_to_string(action);
        m.action = a;
        g_free(a);
        JSCValue* code = jsc_value_object_get_property(corps, "code");
        if (jsc_value_is_string(code)) {
            gchar* c = jsc_value_to_string(code);
            m.code = c;
            g_free(c);
        }
        g_object_unref(code);
    }
    g_object_unref(action);
    if (!valable) return;
    ActionsPage a;
    a.fermer = [moi] { moi->terminer(); };
    a.ouvrir = [moi](const std::string& code) { moi->cycle_->ouvrir(code); };
    a.refermer = [moi] { moi->cycle_->refermer(); };
    a.activer = [moi] { moi->cycle_->activer(); };
    a.direLesAutorisations = [moi] { moi->direLesAutorisations(); };
    a.autoriser = [moi] {
        moi->agent_.demanderAutorisations();
        std::weak_ptr<Fenetre*> vivant = moi->vivant_;
        g_timeout_add_full(G_PRIORITY_DEFAULT, 1500, +[](gpointer p) -> gboolean {
            if (auto v = static_cast<std::weak_ptr<Fenetre*>*>(p)->lock()) (*v)->direLesAutorisations();
            return G_SOURCE_REMOVE;
        }, new std::weak_ptr<Fenetre*>(vivant), [](gpointer p) { delete static_cast<std::weak_ptr<Fenetre*>*>(p); });
    };
    agir(m, a);
}

void Fenetre::direLesAutorisations() {
    repondre("permissions", texteAutorisations(agent_.voitEcran(), agent_.peutAgir()));
}

void Fenetre::repondre(const std::string& sorte, const std::string& texte) {
    // One queue for every thread: each idle call sends the oldest notice, so order holds
    // even when the main thread itself sends while others are queued.
    {
        std::lock_guard<std::mutex> v(file_->verrou);
        file_->scripts.push_back(scriptReponse(sorte, texte));
    }
    std::weak_ptr<Fenetre*> vivant = vivant_;
    poster([vivant] {
        if (auto p = vivant.lock()) (*p)->vider();
    });
}

void Fenetre::vider() {
    std::string script;
    {
        std::lock_guard<std::mutex> v(file_->verrou);
        if (file_->scripts.empty()) return;
        script = std::move(file_->scripts.front());
        file_->scripts.pop_front();
    }
    if (vue_) webkit_web_view_evaluate_javascript(vue_, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// Not resizable by the user, yet resizable by us: the size hints pin it, min equal to max.
void Fenetre::fixerTaille(int l, int h) {
    GdkGeometry g{};
    g.min_width = g.max_width = l;
    g.min_height = g.max_height = h;
    gtk_window_set_geometry_hints(fenetre_, nullptr, &g, GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
    gtk_window_set_default_size(fenetre_, l, h);
    gtk_window_resize(fenetre_, l, h);
}

void Fenetre::lancerVeille() {
    arreterVeille();
    std::weak_ptr<Cycle> cycle = cycle_;
    veille_ = g_timeout_add_full(G_PRIORITY_DEFAULT, 2000, +[](gpointer p) -> gboolean {
        if (auto c = static_cast<std::weak_ptr<Cycle>*>(p)->lock())
            std::thread([c] { c->veiller(); }).detach();
        return G_SOURCE_CONTINUE;
    }, new std::weak_ptr<Cycle>(cycle), [](gpointer p) { delete static_cast<std::weak_ptr<Cycle>*>(p); });
}

void Fenetre::arreterVeille() {
    if (veille_) g_source_remove(veille_);
    veille_ = 0;
}

void Fenetre::montrerSession() {
    agent_.demarrer();
    GdkDisplay* affichage = gdk_display_get_default();
    GdkMonitor* ecran = affichage ? gdk_display_get_primary_monitor(affichage) : nullptr;
    if (!ecran && affichage && gdk_display_get_n_monitors(affichage) > 0) ecran = gdk_display_get_monitor(affichage, 0);
    if (ecran && vue_) {
        webkit_web_view_evaluate_javascript(vue_, "document.body.classList.add('petit')", -1, nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
        GdkRectangle zone;
        gdk_monitor_get_workarea(ecran, &zone);
        fixerTaille(petiteLargeur, petiteHauteur);
        gtk_window_move(fenetre_, zone.x + zone.width - petiteLargeur - marge, zone.y + marge);
        gtk_window_set_keep_above(fenetre_, TRUE);
    }
    // The password dialog had the keyboard: give it back to the panel and its one button.
    gtk_window_present(fenetre_);
    if (vue_) gtk_widget_grab_focus(GTK_WIDGET(vue_));
    lancerVeille();
}

void Fenetre::cacherSession() {
    agent_.stopper();
    arreterVeille();
    if (!vue_) return;
    webkit_web_view_evaluate_javascript(vue_, "document.body.classList.remove('petit')", -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    gtk_window_set_keep_above(fenetre_, FALSE);
    fixerTaille(largeur, hauteur);
    GdkDisplay* affichage = gdk_display_get_default();
    GdkMonitor* ecran = gdk_display_get_primary_monitor(affichage);
    if (!ecran && gdk_display_get_n_monitors(affichage) > 0) ecran = gdk_display_get_monitor(affichage, 0);
    if (ecran) {
        GdkRectangle zone;
        gdk_monitor_get_workarea(ecran, &zone);
        gtk_window_move(fenetre_, zone.x + (zone.width - largeur) / 2, zone.y + (zone.height - hauteur) / 2);
    }
}

void Fenetre::terminer() {
    if (termine_) return;
    termine_ = true;
    arreterVeille();
    agent_.stopper();
    cycle_->terminer();
    quitter();
}

}  // namespace vimba
