// The launcher against real fixture scripts, and the failure wording's rule order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/lanceur.h"

using namespace vimba;
namespace fs = std::filesystem;

namespace {

class Lanceur : public ::testing::Test {
protected:
    void SetUp() override {
        dossier = fs::temp_directory_path() / ("vimba-lanceur-" + std::to_string(getpid()));
        fs::create_directories(dossier);
    }
    void TearDown() override { fs::remove_all(dossier); }
    std::string ecrire(const std::string& nom, const std::string& corps) {
        auto p = dossier / nom;
        std::ofstream(p) << corps;
        fs::permissions(p, fs::perms::owner_all);
        return p.string();
    }
    fs::path dossier;
};

TEST_F(Lanceur, PlainPathOutputsAndExitCodes) {
    struct Cas {
        const char* corps;
        bool ok;
        std::string sortie;
    } cas[] = {
        {"printf '  mot \\n'", true, "mot"},
        {"echo sur-sortie; echo 'outil introuvable' >&2; exit 3", false, "outil introuvable"},
        {"echo \"$1|$2\"", true, "un mot|l'autre"},
        {"printf '\\xff\\xfe ok'", true, ""},
        {"exit 5", false, ""},
        // Much more than a pipe's buffer on standard error before anything on standard output.
        {"head -c 300000 /dev/zero | tr '\\0' e >&2; echo fini", true, "fini"},
    };
    for (const auto& c : cas) {
        auto script = ecrire("s.sh", c.corps);
        Resultat r = lancerAvec(Programmes{script}, {"un mot", "l'autre"}, false);
        EXPECT_EQ(r.ok, c.ok) << c.corps;
        EXPECT_EQ(r.sortie, c.sortie) << c.corps;
    }
}

TEST_F(Lanceur, MissingShellCannotStart) {
    Resultat r = lancerAvec(Programmes{ecrire("s.sh", "true"), "/nulle/part/bash"}, {}, false);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.sortie, "lancement impossible");
    EXPECT_EQ(enClair(r.sortie), "lancement impossible");
}

// The stand-in prints what Debian's pkexec prints when the dialog is dismissed (126) or the
// password refused (127); a script that exits 126 or 127 itself keeps its own text.
TEST_F(Lanceur, AdminPathTellsPkexecRefusalFromTheScriptsOwnFailure) {
    auto script = ecrire("s.sh", "#!/bin/bash\ncase $1 in ok) echo ' jeton ';; 126) echo 'outil introuvable' >&2; exit 126;;"
                                 " 127) echo 'Not authorized' >&2; exit 127;; *) echo 'tunnel muet ' >&2; exit 1;; esac\n");
    const std::string pk = "echo 'Error executing command as another user: ";
    struct Cas {
        std::string pkexec;
        const char* arg;
        bool ok;
        std::string sortie;
    } cas[] = {
        {"exec \"$@\"", "ok", true, "jeton"},
        {"exec \"$@\"", "ko", false, "tunnel muet \n"},
        {"exec \"$@\"", "126", false, "outil introuvable\n"},
        {"exec \"$@\"", "127", false, "Not authorized\n"},
        {pk + "Request dismissed' >&2; exit 126", "ok", false, "-128 User canceled"},
        {pk + "Not authorized' >&2; printf '\\nThis incident has been reported.\\n' >&2; exit 127", "ok", false,
         "-128 User canceled"},
        {pk + "Not authorized' >&2; exit 1", "ok", false,
         "Error executing command as another user: Not authorized\n"},
        {"exit 126", "ok", false, "échec"},
        {pk + "No authentication agent found.' >&2; exit 127", "ok", false,
         "Aucun agent d’authentification ne tourne dans cette session : le système ne peut pas vous demander votre "
         "mot de passe. Ouvrez une session de bureau complète, puis réessayez."},
    };
    for (const auto& c : cas) {
        auto pkexec = ecrire("pkexec", "#!/bin/bash\n" + c.pkexec + "\n");
        Resultat r = lancerAvec(Programmes{script, "/bin/bash", pkexec}, {c.arg}, true);
        EXPECT_EQ(r.ok, c.ok) << c.pkexec << " " << c.arg;
        EXPECT_EQ(r.sortie, c.sortie) << c.pkexec << " " << c.arg;
    }
    Resultat absent = lancerAvec(Programmes{script, "/bin/bash", (dossier / "aucun").string()}, {"ok"}, true);
    EXPECT_EQ(absent.sortie, "lancement impossible");
}

TEST(EnClair, FirstMatchingRuleWins) {
    struct Cas {
        std::string echec, phrase;
    } cas[] = {
        {"code refusé par le serveur", "Ce code n’est pas valable, ou il a déjà servi. Demandez-en un nouveau à Ilvo."},
        {"outil introuvable -128",
         "Le téléchargement du programme de connexion n’a pas abouti. Vérifiez votre internet, puis réessayez."},
        {"tunnel muet", "La connexion sécurisée ne s’est pas établie. Si vous êtes sur le réseau d’un bureau ou d’une "
                        "résidence, il se peut qu’il la bloque."},
        {"le serveur dort", "Le serveur n’a pas répondu. Vérifiez que votre internet fonctionne."},
        {"Serveur", "Serveur"},
        {"-128 User canceled", "Le dépannage n’a pas été autorisé sur cet ordinateur."},
        {"User canceled", "Le dépannage n’a pas été autorisé sur cet ordinateur."},
        {"", "Une étape n’a pas abouti."},
        {"   ", "   "},
        {"Code refusé", "Code refusé"},
    };
    for (const auto& c : cas) EXPECT_EQ(enClair(c.echec), c.phrase) << c.echec;
}

TEST(Ressources, FoundOnceWithTheScriptInside) {
    EXPECT_TRUE(fs::exists(fs::path(ressources()) / "interface.html"));
    EXPECT_EQ(scriptSession(), ressources() + "/session.sh");
    EXPECT_EQ(&ressources(), &ressources());
}

}  // namespace
