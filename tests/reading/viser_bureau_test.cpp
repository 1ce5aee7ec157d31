// `lire` and `viser` through the request folder, answered by vimba-agent, on GTK3 windows
// built like everyday applications; each click is checked by what the window saw.
// Run inside scripts/avec-bureau.sh.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/reading/commun.h"

namespace {

std::string appli() { return std::string(VIMBA_ESSAIS) + "/appli_lecture"; }

// vimba-agent on a folder of its own, asked through vimba-demande.
class Canal {
public:
    Canal() {
        pid_ = fork();
        if (pid_ == 0) {
            execl(VIMBA_AGENT, VIMBA_AGENT, "--dossier", dossier_.chemin.c_str(), nullptr);
            _exit(127);
        }
    }
    ~Canal() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    // The requests here hold no quote.
    std::string operator()(const std::string& demande) const {
        const std::string c = std::string(VIMBA_DEMANDE) + " --dossier " + dossier_.chemin + " '" + demande + "'";
        std::string r;
        if (FILE* p = popen(c.c_str(), "r")) {
            char b[4096];
            for (std::size_t n; (n = std::fread(b, 1, sizeof b, p)) > 0;) r.append(b, n);
            pclose(p);
        }
        return r;
    }

private:
    essai::Dossier dossier_;
    pid_t pid_ = -1;
};

std::vector<std::string> lignes(const std::string& t) {
    std::vector<std::string> r;
    std::istringstream in(t);
    for (std::string l; std::getline(in, l);) r.push_back(l);
    return r;
}

std::string derniere(const std::string& t) {
    const auto l = lignes(t);
    return l.empty() ? "" : l.back();
}

// The request again until the application, just started, answers it with "ok".
std::string jusquAReponse(const Canal& canal, int pid, const std::string& titre, const std::string& demande) {
    std::string r;
    essai::attendreQue([&] {
        essai::donnerFocus(pid, titre);
        r = canal(demande);
        return r.starts_with("ok ") && !r.starts_with("ok rien");
    });
    return r;
}

TEST(ViserBureau, lesTouchesParLeurNomEtNonParLeurValeur) {
    Canal canal;
    essai::Appli a(appli(), 0, "touches");
    ASSERT_TRUE(a.pret());
    // Every key is a toggle button whose value is "0"; backspace comes first in the tree.
    for (const char* touche : {"0", "-", "<-", "7"}) {
        const std::string r = jusquAReponse(canal, a.pid(), "Calculette", std::string("viser ") + touche);
        EXPECT_TRUE(r.starts_with(std::string("ok clic CheckBox « ") + touche + " » en ")) << r;
        EXPECT_TRUE(essai::attendreQue([&] { return derniere(a.etat("actives")) == touche; }))
            << touche << " a activé : " << a.etat("actives");
    }
}

TEST(ViserBureau, leDialogueDevantLaFenetreASesMenus) {
    Canal canal;
    essai::Appli a(appli(), 0, "dialogue");
    ASSERT_TRUE(a.pret());
    const std::string l = jusquAReponse(canal, a.pid(), "Enregistrer sous", "lire");
    SCOPED_TRACE(l);
    // The dialog before the window under it; its fields named by their labels; the closed
    // menus' items left out, their titles kept.
    const auto dialogue = l.find("Window « Enregistrer sous »"), fenetre = l.find("Window « Éditeur »");
    ASSERT_NE(dialogue, std::string::npos);
    ASSERT_NE(fenetre, std::string::npos);
    EXPECT_LT(dialogue, fenetre);
    for (const char* present : {"TextField « Nom : » = notebook.txt @", "TextField « Dossier : » @", "Button « OK » @",
                                "« Fichier »", "Texte du document"})
        EXPECT_NE(l.find(present), std::string::npos) << present;
    EXPECT_EQ(l.find("Coller"), std::string::npos);
    EXPECT_EQ(l.find("au-delà"), std::string::npos);

    // An item of a closed menu is found when asked for by name.
    EXPECT_NE(canal("lire coller").find("MenuItem « Coller » @"), std::string::npos);

    const std::string dossier = canal("viser dossier");
    EXPECT_TRUE(dossier.starts_with("ok clic TextField « Dossier : » en ")) << dossier;
    EXPECT_TRUE(essai::attendreQue([&] { return derniere(a.etat("actives")) == "dossier"; })) << a.etat("actives");
    // The name field's value holds "ok": the button named OK is the one clicked.
    const std::string ok = canal("viser OK");
    EXPECT_TRUE(ok.starts_with("ok clic Button « OK » en ")) << ok;
    EXPECT_TRUE(essai::attendreQue([&] { return derniere(a.etat("actives")) == "OK"; })) << a.etat("actives");
}

TEST(ViserBureau, uneListeCoupeeLeDit) {
    Canal canal;
    essai::Appli a(appli(), 0, "pave");
    ASSERT_TRUE(a.pret());
    const std::string r = jusquAReponse(canal, a.pid(), "Pavé", "lire");
    const auto l = lignes(r);
    ASSERT_EQ(l.size(), 142u) << r;
    EXPECT_TRUE(l.front().starts_with("ok 140 éléments dans « ")) << l.front();
    EXPECT_EQ(l.back(), "… et d’autres éléments au-delà de ces 140 (« lire MOTIF » pour les chercher)");
    EXPECT_EQ(lignes(canal("lire case 20")).size(), 3u);  // Case 20, Case 200
}

}  // namespace
