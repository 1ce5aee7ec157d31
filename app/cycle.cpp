#include "app/cycle.h"

#include <charconv>

namespace vimba {

void Cycle::ouvrir(const std::string& code) {
    auto moi = shared_from_this();
    l_.enFond([moi, code] {
        Resultat r = moi->l_.lancer({"preparer", code}, false);
        if (r.ok) return moi->activer();
        const char* sorte = r.sortie.find("code refusé") != std::string::npos ? "code-refuse" : "souci";
        moi->l_.repondre(sorte, enClair(r.sortie));
    });
}

void Cycle::activer() {
    auto moi = shared_from_this();
    l_.enFond([moi] {
        auto& l = moi->l_;
        l.repondre("avancement",
                   "Autorisation|Votre ordinateur va vous demander votre mot de passe. C’est lui qui "
                   "le demande, pas Ilvo.");
        l.dormir(1.2);
        EnCours garde(*moi);
        if (!garde.admis) return;
        Resultat r = l.lancer({"activer"}, true);
        if (r.ok && !r.sortie.empty()) {
            l.repondre("avancement", "Presque fini|On prévient Ilvo…");
            l.lancer({"prevenir", r.sortie}, false);
            moi->ouverte_ = true;
            l.repondre("ouverte", "");
            l.surPrincipal([moi] { moi->l_.montrerSession(); });
            return;
        }
        bool annule = r.sortie.find("-128") != std::string::npos ||
                      r.sortie.find("User canceled") != std::string::npos;
        l.repondre(annule ? "souci-reprise" : "souci", enClair(r.ok ? std::string() : r.sortie));
    });
}

void Cycle::refermer() {
    if (fermeture_.exchange(true)) return;
    auto moi = shared_from_this();
    l_.enFond([moi] {
        auto& l = moi->l_;
        l.surPrincipalAttendu([moi] { moi->l_.cacherSession(); });
        {
            // Termination may have begun while this thread waited for the main one: it then
            // runs the closing step itself.
            EnCours garde(*moi);
            if (garde.admis) {
                l.lancer({"arreter"}, true);
                moi->ouverte_ = false;
            }
        }
        moi->fermeture_ = false;
        l.repondre("fermee", "");
    });
}

void Cycle::veiller() {
    Resultat r = l_.lancer({"veille"}, false);
    bool agit = false;
    l_.surPrincipalAttendu([&] { agit = l_.agitDepuis(4.0); });
    l_.repondre("veille", etatVeille(r.sortie, agit));
}

Cycle::EnCours::EnCours(Cycle& cycle) : c(cycle) {
    std::lock_guard<std::mutex> v(c.verrou_);
    admis = !c.termine_;
    if (admis) ++c.adminEnCours_;
}

Cycle::EnCours::~EnCours() {
    if (!admis) return;
    {
        std::lock_guard<std::mutex> v(c.verrou_);
        --c.adminEnCours_;
    }
    c.libre_.notify_all();
}

void Cycle::terminer() {
    {
        std::unique_lock<std::mutex> v(verrou_);
        termine_ = true;
        libre_.wait(v, [this] { return adminEnCours_ == 0; });
    }
    if (ouverte_.exchange(false)) l_.lancer({"arreter"}, true);
}

std::string Cycle::etatVeille(const std::string& sortie, bool agit) {
    bool connecte = false;
    size_t i = 0;
    while (i < sortie.size()) {
        size_t fin = sortie.find(' ', i);
        if (fin == std::string::npos) fin = sortie.size();
        std::string_view mot(sortie.data() + i, fin - i);
        i = fin + 1;
        if (mot.rfind("ssh=", 0) != 0) continue;
        std::string_view reste = mot.substr(4);
        if (!reste.empty() && reste[0] == '+') reste.remove_prefix(1);
        long long n = 0;
        auto [p, ec] = std::from_chars(reste.data(), reste.data() + reste.size(), n);
        connecte = ec == std::errc() && p == reste.data() + reste.size() && n > 0;
        break;
    }
    return agit || connecte ? "actif" : "calme";
}

}  // namespace vimba
