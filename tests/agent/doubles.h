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
    bool securise = false;
    // When not negative, the focus is a password field from the question after this many.
    int securiseApres = -1;
    int focusDemandes = 0;
    bool ecran = true;
    bool agir = true;
    std::optional<std::string> presse;
    std::vector<Element> elements;
    std::optional<std::string> motifRecu;
    std::uint16_t port = 4242;
    int lecturesPortAvantOuverture = 0;
    std::deque<std::function<void()>> postes;
    int pauses = 0;
    bool masque = false;
    std::uint64_t cle = 1, cleJugee = 0;
    // Run when the dispatcher lets the main loop turn in the middle of a request.
    std::function<void()> boucle;
};

class SaisieDouble final : public Saisie {
public:
    explicit SaisieDouble(Journal& j) : j_(j) {}
    void cliquer(double x, double y, bool d, bool droit) override {
        j_.appels.push_back("cliquer " + std::to_string(x) + " " + std::to_string(y) + (d ? " double" : "") + (droit ? " droit" : ""));
    }
    void bouger(double x, double y) override { j_.appels.push_back("bouger " + std::to_string(x) + " " + std::to_string(y)); }
    void defiler(double, double, std::int32_t n) override { j_.appels.push_back("defiler " + std::to_string(n)); }
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
        j_.appels.push_back("ecrire " + tape);
    }
    bool frapper(const std::string& c) override {
        j_.appels.push_back("frapper " + c);
        return c != "cmd";
    }

private:
    Journal& j_;
};

class GardesDouble final : public Gardes {
public:
    explicit GardesDouble(Journal& j) : j_(j) {}
    std::optional<std::string> appDevant() override {
        j_.appels.push_back("appDevant");
        return j_.devant;
    }
    std::optional<std::string> titreDevant() override { return j_.titre; }
    std::uint64_t cleDevant() override { return j_.cle; }
    bool champSecurise() override {
        ++j_.focusDemandes;
        if (j_.securiseApres >= 0 && j_.focusDemandes > j_.securiseApres) return true;
        return j_.securise;
    }

private:
    Journal& j_;
};

class PermissionsDouble final : public Permissions {
public:
    explicit PermissionsDouble(Journal& j) : j_(j) {}
    bool voitEcran() override { return j_.ecran; }
    bool peutAgir() override { return j_.agir; }
    void demanderAutorisations() override {}

private:
    Journal& j_;
};

class PresseDouble final : public PressePapiers {
public:
    explicit PresseDouble(Journal& j) : j_(j) {}
    std::optional<std::string> lire() override { return j_.presse; }
    void ecrire(const std::string& t) override { j_.presse = t; }

private:
    Journal& j_;
};

class LectureDouble final : public Lecture {
public:
    explicit LectureDouble(Journal& j) : j_(j) {}
    std::vector<Element> elements(const std::optional<std::string>& motif, int) override {
        j_.motifRecu = motif;
        return j_.elements;
    }
    std::optional<Element> viser(const std::string&) override {
        if (j_.elements.empty()) return std::nullopt;
        return j_.elements.front();
    }

private:
    Journal& j_;
};

class PhotographeDouble final : public Photographe {
public:
    std::string capturer() override { return "ok vue double"; }
};

class MarquageDouble final : public Marquage {
public:
    explicit MarquageDouble(Journal& j) : j_(j) {}
    void montrer(double x, double y, const std::string& t) override {
        j_.appels.push_back("montrer " + std::to_string(static_cast<long long>(x)) + " " + std::to_string(static_cast<long long>(y)) + " [" + t + "]");
    }
    void tracer(const std::vector<Point>& p) override { j_.appels.push_back("tracer " + std::to_string(p.size())); }
    void effacer() override { j_.appels.push_back("effacer"); }

private:
    Journal& j_;
};

class DiffusionDouble final : public Diffusion {
public:
    explicit DiffusionDouble(Journal& j) : j_(j) {}
    void demarrer(const std::string&, std::int64_t l, std::int64_t q, const std::string& m) override {
        j_.appels.push_back("demarrer " + std::to_string(l) + " " + std::to_string(q) + " " + m);
    }
    std::uint16_t port() const override {
        if (j_.lecturesPortAvantOuverture > 0) {
            --j_.lecturesPortAvantOuverture;
            return 0;
        }
        return j_.port;
    }
    std::string moteurActif() const override { return "aucun"; }
    void arreter() override { j_.appels.push_back("arreter"); }
    void masquer(bool m, std::uint64_t cle) override {
        if (m != j_.masque) j_.appels.push_back(m ? "masquer" : "demasquer");
        j_.masque = m;
        j_.cleJugee = cle;
    }

private:
    Journal& j_;
};

inline Services servicesDoubles(Journal& j) {
    Services s;
    s.saisie = std::make_unique<SaisieDouble>(j);
    s.gardes = std::make_unique<GardesDouble>(j);
    s.permissions = std::make_unique<PermissionsDouble>(j);
    s.presse = std::make_unique<PresseDouble>(j);
    s.lecture = std::make_unique<LectureDouble>(j);
    s.photographe = std::make_unique<PhotographeDouble>();
    s.marqueur = std::make_unique<MarquageDouble>(j);
    s.diffuseur = std::make_unique<DiffusionDouble>(j);
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
