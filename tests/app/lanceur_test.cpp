// The launcher against real fixture scripts (the failure wording is cycle_test.cpp's).
#include <gtest/gtest.h>
#include <sys/stat.h>
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
        // The administrator step refuses a folder others may write to, whatever the umask.
        chmod(dossier.c_str(), 0755);
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
        Resultat r = lancerAvec(Programmes{script, "/bin/bash", pkexec, geteuid()}, {c.arg}, true);
        EXPECT_EQ(r.ok, c.ok) << c.pkexec << " " << c.arg;
        EXPECT_EQ(r.sortie, c.sortie) << c.pkexec << " " << c.arg;
    }
    Resultat absent = lancerAvec(Programmes{script, "/bin/bash", (dossier / "aucun").string(), geteuid()}, {"ok"}, true);
    EXPECT_EQ(absent.sortie, "lancement impossible");
    Resultat sansShell = lancerAvec(Programmes{script, "/nulle/part/bash"}, {}, false);
    EXPECT_EQ(std::make_pair(sansShell.ok, enClair(sansShell.sortie)), std::make_pair(false, std::string("lancement impossible")));
}

// Root runs only a script that nobody but root (here: this test's account) can change, nor
// any folder above it; otherwise the sentence names the culprit and pkexec never starts. A
// link in a folder anyone may write is followed once: pkexec gets the checked file.
TEST_F(Lanceur, AdminPathOnlyOnAScriptNobodyElseCanChange) {
    const auto lance = dossier / "lance";
    auto pkexec = ecrire("pkexec", "#!/bin/bash\necho \"$1\" > '" + lance.string() + "'\nexec \"$@\"\n");
    const auto d = dossier / "d", e = d / "e", script = e / "s.sh", ouvert = dossier / "ouvert";
    const std::string pas = "Le dépannage ne peut pas demander les droits d’administrateur sans risque : « ";
    const std::string fin = ". Installez Dépannage Vimba depuis son paquet, ou lancez-le depuis un dossier qui "
                            "appartient à l’administrateur.";
    const char* const modifiable = " » peut être modifié par d’autres comptes";
    struct Cas {
        mode_t md, me, ms;
        bool autreProprietaire;  // e belongs to another account (root only)
        fs::path fautif;
        const char* pourquoi;
        bool parLien = false;
    } cas[] = {
        {0755, 0755, 0755, false, {}, ""},
        {0755, 0755, 0755, false, {}, "", true},
        {0755, 01777, 0700, false, {}, ""},  // sticky, like /tmp above a clone
        {0755, 0755, 0775, false, script, modifiable},
        {0755, 0755, 0757, false, script, modifiable},
        {0755, 0777, 0755, false, e, modifiable},
        {0775, 0755, 0755, false, d, modifiable},
        {0755, 0755, 0755, true, e, " » appartient à un autre compte que l’administrateur"},
    };
    fs::create_directories(ouvert);
    chmod(ouvert.c_str(), 0777);
    fs::create_symlink(script, ouvert / "lien.sh");
    for (const auto& c : cas) {
        if (c.autreProprietaire && geteuid() != 0) continue;
        fs::remove_all(d);
        fs::create_directories(e);
        std::ofstream(script) << "#!/bin/bash\necho jeton\n";
        if (c.autreProprietaire) {
            ASSERT_EQ(chown(e.c_str(), 65534, 65534), 0);
        }
        chmod(script.c_str(), c.ms);
        chmod(e.c_str(), c.me);
        chmod(d.c_str(), c.md);
        fs::remove(lance);
        Resultat r = lancerAvec(Programmes{(c.parLien ? ouvert / "lien.sh" : script).string(), "/bin/bash", pkexec, geteuid()},
                                {"activer"}, true);
        SCOPED_TRACE(c.fautif.string());
        if (c.fautif.empty()) {
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.sortie, "jeton");
            std::string recu;
            std::getline(std::ifstream(lance), recu);
            EXPECT_EQ(recu, script.string());
        } else {
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.sortie, pas + c.fautif.string() + c.pourquoi + fin);
            EXPECT_EQ(enClair(r.sortie), r.sortie);
            EXPECT_FALSE(fs::exists(lance));
        }
    }


    Resultat absent = lancerAvec(Programmes{(dossier / "absent.sh").string(), "/bin/bash", pkexec}, {}, true);
    EXPECT_EQ(absent.sortie, "Le programme de la session est introuvable (« " + (dossier / "absent.sh").string() +
                                 " ») : le dépannage ne peut pas obtenir les droits d’administrateur.");
}

TEST(Ressources, PageAndScriptFound) {
    EXPECT_TRUE(fs::exists(fs::path(ressources()) / "interface.html"));
    EXPECT_TRUE(fs::exists(scriptSession()));
}

}  // namespace
