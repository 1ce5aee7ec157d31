// The real window under Xvfb: WebKitGTK loads the page, the page talks to the bridge, the
// session opens with a fixture script and a pkexec stand-in, and closes again; and the page
// alone, its posts kept in the page.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "../agent/doubles.h"
#include "app/fenetre.h"

using namespace vimba;
namespace fs = std::filesystem;

namespace {

template <class F>
bool attendre(F condition, double secondes = 10) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::duration<double>(secondes);
    while (std::chrono::steady_clock::now() < fin) {
        if (condition()) return true;
        g_main_context_iteration(nullptr, FALSE);
        if (!g_main_context_pending(nullptr)) g_usleep(2000);
    }
    return condition();
}

void patienter(double secondes) { attendre([] { return false; }, secondes); }

class FenetreReelle : public ::testing::Test {
protected:
    void SetUp() override {
        dossier = fs::temp_directory_path() / ("vimba-app-" + std::to_string(getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dossier);
        fs::create_directories(dossier / "requetes");
        // The fixture script logs each step; only the code « bon » is good.
        script = dossier / "session.sh";
        std::ofstream(script) << "#!/bin/bash\n"
                                 "echo \"$*\" >> '" << (dossier / "journal").string() << "'\n"
                                 "case $1 in\n"
                                 "  preparer) [ \"$2\" = bon ] || { echo 'code refusé' >&2; exit 1; };;\n"
                                 "  activer) echo jeton-42;;\n"
                                 "  veille) echo 'ssh=1';;\n"
                                 "esac\n";
        fs::permissions(script, fs::perms::owner_all);
        // Stands in for pkexec: runs the program, or acts out a dismissed dialog.
        pkexec = dossier / "pkexec";
        std::ofstream(pkexec) << "#!/bin/bash\n[ -e '" << (dossier / "refuser").string()
                              << "' ] && { echo 'Error executing command as another user: Request dismissed' >&2; exit 126; }\n"
                                 "exec \"$@\"\n";
        fs::permissions(pkexec, fs::perms::owner_all);

        agent = std::make_unique<Agent>(essais::servicesDoubles(journal), (dossier / "requetes").string());
        fenetre = std::make_unique<Fenetre>(*agent, std::string(VIMBA_RESSOURCES), Programmes{script, "/bin/bash", pkexec});
        fenetre->quitter = [this] { ++quittes; };
        fenetre->montrer();
        ASSERT_TRUE(attendre([&] { return evaluer("document.getElementById('aut-ecran').className") != ""; }))
            << "la page n’a pas reçu la notice des autorisations";
    }
    void TearDown() override {
        fenetre.reset();
        agent.reset();
        fs::remove_all(dossier);
    }

    // Runs a script in the page and waits for its value, as text (empty for undefined or null).
    std::string evaluer(const std::string& js) {
        struct Attente {
            bool fini = false;
            std::string valeur;
        } a;
        webkit_web_view_evaluate_javascript(
            fenetre->vue(), js.c_str(), -1, nullptr, nullptr, nullptr,
            [](GObject* o, GAsyncResult* r, gpointer p) {
                auto* a = static_cast<Attente*>(p);
                if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(o), r, nullptr)) {
                    if (!jsc_value_is_undefined(v) && !jsc_value_is_null(v)) {
                        gchar* t = jsc_value_to_string(v);
                        a->valeur = t;
                        g_free(t);
                    }
                    g_object_unref(v);
                }
                a->fini = true;
            },
            &a);
        while (!a.fini) g_main_context_iteration(nullptr, TRUE);
        return a.valeur;
    }
    void poster(const std::string& message) { evaluer("window.webkit.messageHandlers.vimba.postMessage(" + message + ")"); }
    std::string texte(const std::string& id) { return evaluer("document.getElementById('" + id + "').textContent"); }
    bool visible(const std::string& id) { return evaluer("String(!document.getElementById('" + id + "').hidden)") == "true"; }
    std::string journalScript() {
        std::ifstream f(dossier / "journal");
        return {std::istreambuf_iterator<char>(f), {}};
    }
    // For the page's own tests: what it posts is kept in the page and never reaches the application.
    void enregistrer() { evaluer("window.recus = []; window.envoyer = m => window.recus.push(JSON.stringify(m))"); }
    std::string dernierRecu() {
        attendre([&] { return evaluer("String(window.recus.length)") != "0"; }, 2);
        return evaluer("(() => { const m = window.recus.at(-1); window.recus = []; return m; })()");
    }
    std::string visibles() {
        return evaluer("[...document.querySelectorAll('.vue')].filter(v => !v.hidden).map(v => v.id).join(',')");
    }

    fs::path dossier, script, pkexec;
    essais::Journal journal;
    std::unique_ptr<Agent> agent;
    std::unique_ptr<Fenetre> fenetre;
    int quittes = 0;
};

TEST_F(FenetreReelle, PermissionsShownAfterLoadOnRequestAndOnReturn) {
    EXPECT_EQ(evaluer("document.getElementById('aut-ecran').className"), "oui");
    journal.agir = false;
    poster("{action: 'revoir-autorisations'}");
    EXPECT_TRUE(attendre([&] { return evaluer("document.getElementById('aut-agir').className") == "non"; }));
    EXPECT_TRUE(visible("bouton-autoriser"));
    // The whole page fits the 520×600 window, even with the button asking for permissions.
    EXPECT_TRUE(attendre([&] {
        return evaluer("String(document.documentElement.scrollHeight <= window.innerHeight)") == "true";
    }, 2)) << evaluer("document.documentElement.scrollHeight") << " > " << evaluer("window.innerHeight");

    // Again a while after the system's settings were asked for, and when the window comes back.
    journal.agir = true;
    poster("{action: 'autorise'}");
    ASSERT_TRUE(attendre([&] { return evaluer("document.getElementById('aut-agir').className") == "oui"; }, 3));
    GtkWidget* autre = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(autre);
    gtk_window_present(GTK_WINDOW(autre));
    ASSERT_TRUE(attendre([&] { return gtk_window_is_active(GTK_WINDOW(autre)); }));
    patienter(0.6);
    journal.agir = false;
    gtk_window_present(fenetre->fenetre());
    EXPECT_TRUE(attendre([&] { return evaluer("document.getElementById('aut-agir').className") == "non"; }));
    gtk_widget_destroy(autre);
}

// Malformed messages, and any message from a page other than the application's own (as if
// it had got past the navigation policy), do nothing.
TEST_F(FenetreReelle, OnlyWellFormedMessagesFromItsOwnPagesAct) {
    for (const char* m : {"'fermer'", "42", "{}", "{action: 'Fermer'}", "{action: 7}", "[{action: 'fermer'}]"})
        poster(m);
    guint politique = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
    while (gulong h = g_signal_handler_find(fenetre->vue(), GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_UNBLOCKED),
                                            politique, 0, nullptr, nullptr, nullptr))
        g_signal_handler_block(fenetre->vue(), h);
    webkit_web_view_load_html(fenetre->vue(),
                              "<script>for (const m of [{action: 'code', code: 'bon'}, {action: 'fermer'}])"
                              " window.webkit.messageHandlers.vimba.postMessage(m);"
                              " document.title = 'ailleurs'</script>",
                              "http://exemple.invalid/");
    // Messages and the title leave the page in that order, on one connection.
    ASSERT_TRUE(attendre([&] {
        const char* t = webkit_web_view_get_title(fenetre->vue());
        return t && std::string(t) == "ailleurs";
    }));
    patienter(0.5);
    EXPECT_EQ(quittes, 0);
    EXPECT_EQ(journalScript(), "");
}

// The password dialog takes the keyboard, and is dismissed once: « Réessayer » runs the
// administrator step again without preparing again. Once the session opens the small panel
// has the keyboard back, Tab stays on « Terminer le dépannage » and Return presses it.
TEST_F(FenetreReelle, SessionOpensAsASmallPanelDrivenByKeyboard) {
    GtkWidget* dialogue = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(dialogue);
    gtk_window_present(GTK_WINDOW(dialogue));
    ASSERT_TRUE(attendre([&] { return gtk_window_is_active(GTK_WINDOW(dialogue)); }));
    std::ofstream(dossier / "refuser") << "";
    poster("{action: 'code', code: 'bon'}");
    EXPECT_TRUE(attendre([&] { return texte("message-souci") == "Le dépannage n’a pas été autorisé sur cet ordinateur."; }));
    EXPECT_TRUE(visible("bouton-reessayer"));
    fs::remove(dossier / "refuser");
    evaluer("document.getElementById('bouton-reessayer').click()");
    ASSERT_TRUE(attendre([&] {
        return fenetre->sessionOuverte() && agent->enMarche() && gtk_window_is_active(fenetre->fenetre()) &&
               evaluer("document.body.className").find("petit") != std::string::npos;
    }, 15));
    EXPECT_EQ(journalScript().find("preparer", 1), std::string::npos) << journalScript();
    int l = 0, h = 0;
    auto taille = [&](int largeur, int hauteur) {
        return attendre([&] {
            gtk_window_get_size(fenetre->fenetre(), &l, &h);
            return l == largeur && h == hauteur;
        });
    };
    EXPECT_TRUE(taille(Fenetre::petiteLargeur, Fenetre::petiteHauteur)) << l << "x" << h;
    GdkRectangle zone;
    gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &zone);
    int x = 0, y = 0;
    gtk_window_get_position(fenetre->fenetre(), &x, &y);
    EXPECT_EQ(x, zone.x + zone.width - Fenetre::petiteLargeur - Fenetre::marge);
    EXPECT_EQ(y, zone.y + Fenetre::marge);
    EXPECT_TRUE(visible("vue-ouverte"));
    EXPECT_TRUE(attendre([&] { return texte("texte-veille") == "Ilvo est connecté"; }, 5)) << texte("texte-veille");
    EXPECT_NE(journalScript().find("prevenir jeton-42"), std::string::npos) << journalScript();

    evaluer("window.touches = 0; document.addEventListener('keydown', () => ++window.touches)");
    for (int i = 1; i <= 3; ++i) {
        std::system("xdotool key Tab");
        ASSERT_TRUE(attendre([&] { return evaluer("String(window.touches)") == std::to_string(i); }));
        EXPECT_EQ(evaluer("document.activeElement.id + ' ' + document.hasFocus()"), "bouton-arreter true") << i;
    }
    std::system("xdotool key Return");
    EXPECT_TRUE(attendre([&] { return visible("vue-fermee"); }));
    EXPECT_FALSE(fenetre->sessionOuverte());
    EXPECT_FALSE(agent->enMarche());
    EXPECT_EQ(evaluer("document.body.className").find("petit"), std::string::npos);
    EXPECT_TRUE(taille(Fenetre::largeur, Fenetre::hauteur)) << l << "x" << h;
    gtk_widget_destroy(dialogue);
}

// Quitting with the session open closes it, once.
TEST_F(FenetreReelle, QuittingClosesTheOpenSessionOnce) {
    poster("{action: 'code', code: 'bon'}");
    ASSERT_TRUE(attendre([&] { return fenetre->sessionOuverte(); }, 15));
    fenetre->terminer();
    fenetre->terminer();
    auto j = journalScript();
    EXPECT_NE(j.find("arreter"), std::string::npos) << j;
    EXPECT_EQ(j.find("arreter"), j.rfind("arreter")) << j;
    EXPECT_EQ(quittes, 1);
    EXPECT_FALSE(agent->enMarche());
}

// Neither a load asked of the view nor a script in the page takes it away from its own pages;
// nothing is even asked of a server.
TEST_F(FenetreReelle, OnlyItsOwnPagesLoad) {
    int ecoute = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in adresse{};
    adresse.sin_family = AF_INET;
    adresse.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t taille = sizeof adresse;
    ASSERT_EQ(bind(ecoute, reinterpret_cast<sockaddr*>(&adresse), sizeof adresse), 0);
    ASSERT_EQ(listen(ecoute, 4), 0);
    getsockname(ecoute, reinterpret_cast<sockaddr*>(&adresse), &taille);
    const std::string http = "http://127.0.0.1:" + std::to_string(ntohs(adresse.sin_port)) + "/";
    const std::string fichier = "file://" + (dossier / "intrus.html").string();
    std::ofstream(dossier / "intrus.html")
        << "<title>intrus</title><script>window.webkit.messageHandlers.vimba.postMessage({action:'fermer'})</script>";
    for (const std::string& quoi : {"charger " + fichier, "charger " + http, "location.href = '" + fichier + "'",
                                    "document.body.insertAdjacentHTML('beforeend', '<iframe src=\"" + http + "\"></iframe>')"}) {
        if (quoi.starts_with("charger ")) webkit_web_view_load_uri(fenetre->vue(), quoi.substr(8).c_str());
        else evaluer(quoi);
        patienter(0.5);
        EXPECT_EQ(std::string(webkit_web_view_get_uri(fenetre->vue())), "vimba-ressources:///interface.html") << quoi;
        EXPECT_EQ(evaluer("document.title"), "Dépannage Vimba") << quoi;
    }
    // A load asked of the view may open a connection ahead of the policy; no request may follow.
    patienter(0.3);
    for (int client; (client = accept(ecoute, nullptr, nullptr)) >= 0; close(client)) {
        char octet;
        EXPECT_LE(recv(client, &octet, 1, MSG_DONTWAIT), 0) << "une requête est partie vers " << http;
    }
    close(ecoute);
    EXPECT_EQ(quittes, 0);
}

// Every notice, as the application sends it, shows its view with each character of its text
// as it was sent, whatever the bytes.
TEST_F(FenetreReelle, EveryNoticeShowsItsView) {
    evaluer("window.changements = 0;"
            "new MutationObserver(l => window.changements += l.length)"
            ".observe(document.getElementById('texte-veille').closest('[aria-live]'),"
            " {childList: true, characterData: true, subtree: true})");
    const std::string connecte = "Ilvo est connecté", attente = "En attente d’Ilvo…", refuse = "Pas autorisé";
    struct Cas {
        std::string sorte, texte;
        const char *vue, *id;
        std::string attendu;
    } cas[] = {
        {"avancement", "Autorisation|Votre ordinateur va vous demander", "vue-avancement", "message-avancement",
         "Votre ordinateur va vous demander"},
        {"avancement", "Presque fini|On prévient Ilvo…", "vue-avancement", "titre-avancement", "Presque fini"},
        // A watch notice changes only the status line; a new session never starts with the last one's state.
        {"veille", "actif", "vue-avancement", "texte-veille", connecte},
        {"ouverte", "", "vue-ouverte", "texte-veille", attente},
        // The status line is a live region: written only when the state changes (counted below).
        {"veille", "calme", "vue-ouverte", "texte-veille", attente},
        {"veille", "actif", "vue-ouverte", "texte-veille", connecte},
        {"veille", "actif", "vue-ouverte", "texte-veille", connecte},
        {"veille", "calme", "vue-ouverte", "texte-veille", attente},
        {"veille", "calme", "vue-ouverte", "texte-veille", attente},
        {"veille", "actif", "vue-ouverte", "texte-veille", connecte},
        {"fermee", "", "vue-fermee", "texte-veille", connecte},
        {"code-refuse", "Ce code n’est pas valable", "vue-code", "erreur-code", "Ce code n’est pas valable"},
        {"souci", std::string("a\rb") + '\0' + "c", "vue-souci", "message-souci", ""},
        {"souci", "l'accès \"entre\" \\ et \\' ${x} </script>", "vue-souci", "message-souci", ""},
        {"souci", "ligne\xe2\x80\xa8s\xe2\x80\xa9\n\x01\x1f\x7f fin", "vue-souci", "message-souci", ""},
        {"souci-reprise", refuse, "vue-souci", "message-souci", refuse},
        {"inconnu", "x", "vue-souci", "message-souci", refuse},
    };
    auto points = [](const std::string& t) {
        std::string p;
        for (const char* c = t.data(); c < t.data() + t.size(); c = g_utf8_next_char(c))
            p += (p.empty() ? "" : ",") + std::to_string(g_utf8_get_char(c));
        return p;
    };
    for (const auto& c : cas) {
        fenetre->repondre(c.sorte, c.texte);
        while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
        const std::string attendu = points(c.attendu.empty() ? c.texte : c.attendu);
        EXPECT_TRUE(attendre([&] {
            return visibles() == c.vue && evaluer("Array.from(document.getElementById('" + std::string(c.id) +
                                                  "').textContent, c => c.codePointAt(0)).join(',')") == attendu;
        })) << c.sorte << " " << c.texte << " : " << visibles() << " " << texte(c.id);
    }
    EXPECT_EQ(evaluer("String(window.changements)"), "5");
    // The live region repeats the sentence for screen readers.
    EXPECT_TRUE(attendre([&] { return texte("annonces") == refuse; }));
    // Permissions missing are shown by PermissionsShownAfterLoadOnRequestAndOnReturn; all granted, no button.
    fenetre->repondre("permissions", "1 1");
    EXPECT_TRUE(attendre([&] { return !visible("bouton-autoriser"); }));
}

// The page alone: every button posts its action; « Réessayer » sends the code again while it
// was being checked, and retries the administrator step once that had begun.
TEST_F(FenetreReelle, PageEveryButtonPostsItsAction) {
    enregistrer();
    auto cliquer = [&](const std::string& id) { evaluer("document.getElementById('" + id + "').click()"); };
    // An empty code is refused in the page and posts nothing.
    evaluer("document.getElementById('code').value = '  '");
    evaluer("document.getElementById('formulaire-code').requestSubmit()");
    patienter(0.2);
    EXPECT_EQ(evaluer("String(window.recus.length)"), "0");
    EXPECT_EQ(evaluer("document.getElementById('code').getAttribute('aria-invalid')"), "true");

    evaluer("document.getElementById('code').value = ' 314159 '");
    evaluer("document.getElementById('formulaire-code').requestSubmit()");
    const std::string code = R"({"action":"code","code":"314159"})", reprendre = R"({"action":"reprendre"})";
    EXPECT_EQ(dernierRecu(), code);
    EXPECT_EQ(visibles(), "vue-avancement");
    struct Cas {
        const char* avant;
        const char* bouton;
        std::string message;
    } cas[] = {
        {"repondre('souci','Le serveur n’a pas répondu.')", "bouton-reessayer", code},
        {"repondre('souci','Le serveur n’a pas répondu.')", "bouton-reessayer", code},
        {"repondre('avancement','Autorisation|x'); repondre('souci','tunnel muet')", "bouton-reessayer", reprendre},
        {"repondre('souci-reprise','x')", "bouton-reessayer", reprendre},
        {"repondre('permissions','0 0')", "bouton-autoriser", R"({"action":"autorise"})"},
        {"", "bouton-quitter", R"({"action":"fermer"})"},
        {"repondre('ouverte','')", "bouton-arreter", R"({"action":"arreter"})"},
    };
    for (const auto& c : cas) {
        evaluer(c.avant);
        if (std::string(c.bouton) == "bouton-reessayer") {
            EXPECT_EQ(evaluer("document.activeElement.id"), c.bouton) << c.avant;
        }
        cliquer(c.bouton);
        EXPECT_EQ(dernierRecu(), c.message) << c.bouton << " " << c.avant;
    }
    // While closing the page says so and offers nothing to press, a watch notice changes nothing.
    const std::string actifs = "String([...document.querySelectorAll('button')].filter(b => !b.disabled).length)";
    evaluer("repondre('veille','actif')");
    EXPECT_EQ(visibles() + " " + texte("titre-avancement") + " " + evaluer(actifs), "vue-avancement Fermeture… 0");
    EXPECT_EQ(texte("texte-veille"), "En attente d’Ilvo…");
    cliquer("bouton-arreter");
    patienter(0.2);
    EXPECT_EQ(evaluer("String(window.recus.length)"), "0");
    // Buttons that only change the view post nothing.
    evaluer("repondre('fermee','')");
    EXPECT_NE(evaluer(actifs), "0");
    cliquer("bouton-recommencer");
    evaluer("repondre('souci','x')");
    cliquer("bouton-nouveau-code");
    patienter(0.2);
    EXPECT_EQ(evaluer("String(window.recus.length)"), "0");
    EXPECT_EQ(visibles(), "vue-code");
    EXPECT_EQ(evaluer("document.activeElement.id"), "code");
    // A refused code stays, selected: typing replaces it, an arrow key lets it be fixed.
    evaluer("document.getElementById('code').value = '314159'");
    evaluer("repondre('code-refuse','Ce code n’est pas valable')");
    EXPECT_EQ(evaluer("const c = document.getElementById('code');"
                      " c.value + ' ' + c.selectionStart + ' ' + c.selectionEnd + ' ' + document.activeElement.id"),
              "314159 0 6 code");
}

// The page's folder cannot be found: nothing is served, not even from the current directory.
TEST(RessourcesIntrouvables, NothingIsServed) {
    fs::path ici = fs::temp_directory_path() / ("vimba-app-cwd-" + std::to_string(getpid()));
    fs::create_directories(ici / "relatif");
    for (const auto& p : {ici / "interface.html", ici / "relatif" / "interface.html"})
        std::ofstream(p) << "<title>fuite</title>";
    fs::path avant = fs::current_path();
    fs::current_path(ici);
    essais::Journal journal;
    Agent agent(essais::servicesDoubles(journal), (ici / "requetes").string());
    for (const char* dossierPage : {"", ".", "relatif", "/nulle/part"}) {
        Fenetre f(agent, dossierPage, Programmes{"/bin/false"});
        f.quitter = [] {};
        f.montrer();
        bool echec = false;
        g_signal_connect(f.vue(), "load-failed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer p) {
                             *static_cast<bool*>(p) = true;
                             return FALSE;
                         }),
                         &echec);
        EXPECT_TRUE(attendre([&] { return echec; })) << "« " << dossierPage << " »";
        patienter(0.2);
        const char* titre = webkit_web_view_get_title(f.vue());
        EXPECT_NE(std::string(titre ? titre : ""), "fuite") << "« " << dossierPage << " »";
    }
    fs::current_path(avant);
    fs::remove_all(ici);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "pas d’affichage : lancer sous scripts/avec-bureau.sh\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
