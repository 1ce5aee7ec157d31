// The page alone in WebKitGTK, with a handler that only records what it is sent: every
// notice kind shows its view, every button posts its action.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <jsc/jsc.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

class Page : public ::testing::Test {
protected:
    void SetUp() override {
        WebKitUserContentManager* contenu = webkit_user_content_manager_new();
        g_signal_connect(contenu, "script-message-received::vimba",
                         G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult* r, gpointer p) {
                             JSCValue* v = webkit_javascript_result_get_js_value(r);
                             gchar* t = jsc_value_to_json(v, 0);
                             static_cast<std::vector<std::string>*>(p)->push_back(t ? t : "");
                             g_free(t);
                         }),
                         &recus);
        webkit_user_content_manager_register_script_message_handler(contenu, "vimba");
        fenetre = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(fenetre), 520, 600);
        vue = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(contenu));
        g_object_unref(contenu);
        gtk_container_add(GTK_CONTAINER(fenetre), GTK_WIDGET(vue));
        gtk_widget_show_all(fenetre);
        webkit_web_view_load_uri(vue, "file://" VIMBA_RESSOURCES "/interface.html");
        ASSERT_TRUE(attendre([&] { return evaluer("typeof repondre") == "function" && evaluer("document.readyState") == "complete"; }));
    }
    void TearDown() override { gtk_widget_destroy(fenetre); }

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
    std::string evaluer(const std::string& js) {
        struct Attente {
            bool fini = false;
            std::string valeur;
        } a;
        webkit_web_view_evaluate_javascript(
            vue, js.c_str(), -1, nullptr, nullptr, nullptr,
            [](GObject* o, GAsyncResult* r, gpointer p) {
                auto* a = static_cast<Attente*>(p);
                if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(o), r, nullptr)) {
                    gchar* t = jsc_value_to_string(v);
                    a->valeur = t;
                    g_free(t);
                    g_object_unref(v);
                }
                a->fini = true;
            },
            &a);
        while (!a.fini) g_main_context_iteration(nullptr, TRUE);
        return a.valeur;
    }
    std::string visibles() {
        return evaluer("[...document.querySelectorAll('.vue')].filter(v => !v.hidden).map(v => v.id).join(',')");
    }
    std::string texte(const std::string& id) { return evaluer("document.getElementById('" + id + "').textContent"); }
    // The last message, its keys sorted: their order is the engine's business.
    std::string dernierRecu() {
        attendre([&] { return !recus.empty(); }, 2);
        std::string r = recus.empty() ? "" : recus.back();
        recus.clear();
        return nlohmann::json::parse(r, nullptr, false).dump();
    }

    GtkWidget* fenetre = nullptr;
    WebKitWebView* vue = nullptr;
    std::vector<std::string> recus;
};

TEST_F(Page, EveryNoticeShowsItsView) {
    struct Cas {
        const char* appel;
        const char* vue;
        const char* id;
        const char* texte;
    } cas[] = {
        {"repondre('avancement','Autorisation|Votre ordinateur va vous demander')", "vue-avancement",
         "message-avancement", "Votre ordinateur va vous demander"},
        {"repondre('avancement','Presque fini|On prévient Ilvo…')", "vue-avancement", "titre-avancement", "Presque fini"},
        {"repondre('ouverte','')", "vue-ouverte", "texte-veille", "En attente d’Ilvo…"},
        {"repondre('veille','actif')", "vue-ouverte", "texte-veille", "Ilvo est connecté"},
        {"repondre('veille','calme')", "vue-ouverte", "texte-veille", "En attente d’Ilvo…"},
        {"repondre('veille','actif')", "vue-ouverte", "texte-veille", "Ilvo est connecté"},
        {"repondre('fermee','')", "vue-fermee", "texte-veille", "Ilvo est connecté"},
        // A new session never starts with the last one's state.
        {"repondre('ouverte','')", "vue-ouverte", "texte-veille", "En attente d’Ilvo…"},
        {"repondre('code-refuse','Ce code n’est pas valable')", "vue-code", "erreur-code", "Ce code n’est pas valable"},
        {"repondre('souci','Le serveur n’a pas répondu.')", "vue-souci", "message-souci", "Le serveur n’a pas répondu."},
        {"repondre('souci-reprise','Pas autorisé')", "vue-souci", "message-souci", "Pas autorisé"},
        {"repondre('inconnu','x')", "vue-souci", "message-souci", "Pas autorisé"},
    };
    for (const auto& c : cas) {
        evaluer(c.appel);
        EXPECT_EQ(visibles(), c.vue) << c.appel;
        EXPECT_EQ(texte(c.id), c.texte) << c.appel;
    }
    // The live region repeats the sentence for screen readers.
    EXPECT_TRUE(attendre([&] { return texte("annonces") == "Pas autorisé"; }));

    evaluer("repondre('permissions','1 0')");
    EXPECT_EQ(evaluer("document.getElementById('aut-ecran').className + ' ' + document.getElementById('aut-agir').className"),
              "oui non");
    EXPECT_EQ(evaluer("String(document.getElementById('bouton-autoriser').hidden)"), "false");
    evaluer("repondre('permissions','1 1')");
    EXPECT_EQ(evaluer("String(document.getElementById('bouton-autoriser').hidden)"), "true");
}

// The watch's status line is a live region: it changes only when the state does, so a
// screen reader speaks each change once and not every two seconds.
TEST_F(Page, WatchStateIsSpokenOncePerChange) {
    evaluer("repondre('ouverte','')");
    evaluer("window.changements = 0;"
            "new MutationObserver(l => window.changements += l.length)"
            ".observe(document.getElementById('texte-veille').closest('[aria-live]'),"
            " {childList: true, characterData: true, subtree: true})");
    for (const char* etat : {"calme", "actif", "actif", "actif", "calme", "calme"})
        evaluer(std::string("repondre('veille','") + etat + "')");
    attendre([] { return false; }, 0.1);
    EXPECT_EQ(evaluer("String(window.changements)"), "2");
}

TEST_F(Page, EveryButtonPostsItsAction) {
    auto cliquer = [&](const std::string& id) { evaluer("document.getElementById('" + id + "').click()"); };
    // An empty code is refused in the page and posts nothing.
    evaluer("document.getElementById('code').value = '  '");
    evaluer("document.getElementById('formulaire-code').requestSubmit()");
    attendre([] { return false; }, 0.2);
    EXPECT_TRUE(recus.empty());
    EXPECT_EQ(evaluer("document.getElementById('code').getAttribute('aria-invalid')"), "true");

    evaluer("document.getElementById('code').value = ' AB-12 '");
    evaluer("document.getElementById('formulaire-code').requestSubmit()");
    EXPECT_EQ(dernierRecu(), R"({"action":"code","code":"AB-12"})");
    EXPECT_EQ(visibles(), "vue-avancement");

    struct Cas {
        const char* avant;
        const char* bouton;
        const char* message;
    } cas[] = {
        {"repondre('souci-reprise','x')", "bouton-reessayer", R"({"action":"reprendre"})"},
        {"repondre('permissions','0 0')", "bouton-autoriser", R"({"action":"autorise"})"},
        {"", "bouton-quitter", R"({"action":"fermer"})"},
        {"repondre('ouverte','')", "bouton-arreter", R"({"action":"arreter"})"},
    };
    for (const auto& c : cas) {
        if (*c.avant) evaluer(c.avant);
        cliquer(c.bouton);
        EXPECT_EQ(dernierRecu(), c.message) << c.bouton;
    }
    // Buttons that only change the view post nothing.
    evaluer("repondre('fermee','')");
    cliquer("bouton-recommencer");
    evaluer("repondre('souci','x')");
    cliquer("bouton-nouveau-code");
    attendre([] { return false; }, 0.2);
    EXPECT_TRUE(recus.empty());
    EXPECT_EQ(visibles(), "vue-code");
    EXPECT_EQ(evaluer("document.activeElement.id"), "code");
}

// « Réessayer » sends the code again while it was being checked, and retries the
// administrator step once that had begun; the code is never typed again.
TEST_F(Page, RetryNeedsNoRetyping) {
    evaluer("document.getElementById('code').value = '314159'");
    evaluer("document.getElementById('formulaire-code').requestSubmit()");
    dernierRecu();
    const std::string code = R"({"action":"code","code":"314159"})", reprendre = R"({"action":"reprendre"})";
    struct Cas {
        const char* notices;
        const std::string& message;
    } cas[] = {
        {"repondre('souci','Le serveur n’a pas répondu.')", code},
        {"repondre('souci','Le serveur n’a pas répondu.')", code},
        {"repondre('avancement','Autorisation|x'); repondre('souci','tunnel muet')", reprendre},
        {"repondre('souci-reprise','Pas autorisé')", reprendre},
    };
    for (const auto& c : cas) {
        evaluer(c.notices);
        EXPECT_EQ(evaluer("document.activeElement.id"), "bouton-reessayer") << c.notices;
        evaluer("document.getElementById('bouton-reessayer').click()");
        EXPECT_EQ(dernierRecu(), c.message) << c.notices;
    }
    // A refused code stays, selected: typing replaces it, an arrow key lets it be fixed.
    evaluer("repondre('code-refuse','Ce code n’est pas valable')");
    EXPECT_EQ(evaluer("const c = document.getElementById('code');"
                      " c.value + ' ' + c.selectionStart + ' ' + c.selectionEnd + ' ' + document.activeElement.id"),
              "314159 0 6 code");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "aucun affichage : à lancer dans scripts/avec-bureau.sh\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
