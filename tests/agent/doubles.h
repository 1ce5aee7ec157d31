#pragma once
// Small doubles of the desktop services: they record what the dispatcher asked.
#include <deque>
#include <string>
#include <vector>

#include "agent/services.h"

namespace vimba::essais {

struct Journal {
    std::vector<std::string> appels;
    std::optional<std::string> devant, titre;
    std::optional<std::string> devantApresTitre;  // the front changes while the title is read
    bool securise = false, ecran = true, agir = true, masque = false;
    // Called with the count of focus questions so far, before the answer is read.
    std::function<void(int)> surFocus;
    int focusDemandes = 0;
    std::optional<std::string> presse;
    std::vector<Element> elements;
    std::optional<std::string> motifRecu;
    std::uint16_t port = 4242;
    int lecturesPortAvantOuverture = 0;
    std::deque<std::function<void()>> postes;
    int pauses = 0;
    // Run when the dispatcher lets the main loop turn in the middle of a request.
    std::function<void()> boucle;
    void noter(std::string a) { appels.push_back(std::move(a)); }
};

struct SaisieDouble final : Saisie {
    Journal& j;
    explicit SaisieDouble(Journal& j) : j(j) {}
    void cliquer(double x, double y, bool, bool) override { j.noter("cliquer " + std::to_string(x) + " " + std::to_string(y)); }
    void bouger(double, double) override { j.noter("bouger"); }
    void defiler(double, double, std::int32_t n) override { j.noter("defiler " + std::to_string(n)); }
    // Asks `avant` where the real one does around Tabs and line feeds (not between batches).
    void ecrire(const std::string& t, const std::function<bool()>& avant) override {
        std::string tape;
        bool apresSaut = false;
        for (char c : t) {
            const bool saut = c == '\t' || c == '\n';
            if ((saut || apresSaut) && !avant()) break;
            apresSaut = saut;
            tape += c;
        }
        j.noter("ecrire " + tape);
    }
    bool frapper(const std::string& c) override {
        j.noter("frapper " + c);
        return c != "cmd";
    }
};

struct GardesDouble final : Gardes {
    Journal& j;
    explicit GardesDouble(Journal& j) : j(j) {}
    std::optional<std::string> appDevant() override {
        j.noter("appDevant");
        return j.devant;
    }
    std::optional<std::string> titreDevant() override {
        if (j.devantApresTitre) j.devant = j.devantApresTitre;
        return j.titre;
    }
    std::uint64_t cleDevant() override { return 1; }
    bool champSecurise() override {
        if (j.surFocus) j.surFocus(++j.focusDemandes);
        return j.securise;
    }
};

struct PermissionsDouble final : Permissions {
    Journal& j;
    explicit PermissionsDouble(Journal& j) : j(j) {}
    bool voitEcran() override { return j.ecran; }
    bool peutAgir() override { return j.agir; }
    void demanderAutorisations() override {}
};

struct PresseDouble final : PressePapiers {
    Journal& j;
    explicit PresseDouble(Journal& j) : j(j) {}
    std::optional<std::string> lire() override { return j.presse; }
    void ecrire(const std::string& t) override { j.presse = t; }
};

struct LectureDouble final : Lecture {
    Journal& j;
    explicit LectureDouble(Journal& j) : j(j) {}
    std::vector<Element> elements(const std::optional<std::string>& motif, int) override {
        j.motifRecu = motif;
        return j.elements;
    }
    std::optional<Element> viser(const std::string&) override {
        return j.elements.empty() ? std::nullopt : std::optional<Element>(j.elements.front());
    }
};

struct PhotographeDouble final : Photographe {
    std::string capturer() override { return "ok vue double"; }
};

struct MarquageDouble final : Marquage {
    Journal& j;
    explicit MarquageDouble(Journal& j) : j(j) {}
    void montrer(double x, double y, const std::string& t) override {
        j.noter("montrer " + std::to_string(static_cast<long long>(x)) + " " + std::to_string(static_cast<long long>(y)) + " [" + t + "]");
    }
    void tracer(const std::vector<Point>& p) override { j.noter("tracer " + std::to_string(p.size())); }
    void effacer() override { j.noter("effacer"); }
};

struct DiffusionDouble final : Diffusion {
    Journal& j;
    explicit DiffusionDouble(Journal& j) : j(j) {}
    void demarrer(const std::string&, std::int64_t l, std::int64_t q, const std::string& m) override {
        j.noter("demarrer " + std::to_string(l) + " " + std::to_string(q) + " " + m);
    }
    std::uint16_t port() const override { return j.lecturesPortAvantOuverture > 0 && j.lecturesPortAvantOuverture-- ? 0 : j.port; }
    std::string moteurActif() const override { return "aucun"; }
    void arreter() override { j.noter("arreter"); }
    void masquer(bool m, std::uint64_t) override {
        if (m != j.masque) j.noter(m ? "masquer" : "demasquer");
        j.masque = m;
    }
};

inline Services servicesDoubles(Journal& j) {
    Services s{std::make_unique<SaisieDouble>(j), std::make_unique<GardesDouble>(j), std::make_unique<PermissionsDouble>(j),
               std::make_unique<PresseDouble>(j), std::make_unique<LectureDouble>(j), std::make_unique<PhotographeDouble>(),
               std::make_unique<MarquageDouble>(j), std::make_unique<DiffusionDouble>(j), {}, {}, {}};
    s.poster = [&j](std::function<void()> f) { j.postes.push_back(std::move(f)); };
    s.pause = [&j](int) { ++j.pauses; };
    s.laisserTourner = [&j] {
        if (j.boucle) j.boucle();
    };
    return s;
}

// Runs what the dispatcher posted, in order.
inline void viderPostes(Journal& j) {
    while (!j.postes.empty()) {
        auto f = std::move(j.postes.front());
        j.postes.pop_front();
        f();
    }
}

}  // namespace vimba::essais
