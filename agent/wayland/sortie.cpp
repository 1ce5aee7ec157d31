#include "agent/wayland/sortie.h"

#include <wayland-client.h>

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

#include "agent/wayland/sway.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace vimba::wayland {

std::optional<Sortie> choisirPrincipale(const std::vector<Sortie>& sorties) {
    if (sorties.empty()) return std::nullopt;
    for (const auto& s : sorties)
        if (s.focalisee) return s;
    for (const auto& s : sorties)
        if (s.x == 0 && s.y == 0) return s;
    return sorties.front();
}

std::vector<Sortie> sortiesDeSway(const std::string& json) {
    std::vector<Sortie> sorties;
    auto liste = nlohmann::json::parse(json, nullptr, false);
    if (!liste.is_array()) return sorties;
    for (const auto& o : liste) {
        try {
            if (!o.value("active", true)) continue;
            Sortie s;
            s.nom = o.value("name", std::string());
            const auto& r = o.at("rect");  // already logical: the scale is divided out
            s.x = r.value("x", 0);
            s.y = r.value("y", 0);
            s.largeur = r.value("width", 0);
            s.hauteur = r.value("height", 0);
            s.echelle = o.value("scale", 1.0);
            if (!(s.echelle > 0)) s.echelle = 1;
            s.focalisee = o.value("focused", false);
            if (s.largeur > 0 && s.hauteur > 0) sorties.push_back(std::move(s));
        } catch (const nlohmann::json::exception&) {
        }
    }
    return sorties;
}

namespace {

// What the display tells about one output while we listen.
struct Ecoute {
    wl_output* sortie = nullptr;
    zxdg_output_v1* xdg = nullptr;
    Sortie lu;
    int modeLargeur = 0, modeHauteur = 0, echelleEntiere = 1, transformee = 0;
    bool logique = false;
};

struct Registre {
    std::vector<std::unique_ptr<Ecoute>> sorties;
    zxdg_output_manager_v1* gestionnaire = nullptr;
};

const wl_output_listener kEcouteSortie = {
    .geometry = [](void* d, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*, const char*,
                   int32_t transformee) {
        auto* e = static_cast<Ecoute*>(d);
        e->lu.x = x;
        e->lu.y = y;
        e->transformee = transformee;
    },
    .mode = [](void* d, wl_output*, uint32_t drapeaux, int32_t l, int32_t h, int32_t) {
        auto* e = static_cast<Ecoute*>(d);
        if (drapeaux & WL_OUTPUT_MODE_CURRENT) e->modeLargeur = l, e->modeHauteur = h;
    },
    .done = [](void*, wl_output*) {},
    .scale = [](void* d, wl_output*, int32_t f) { static_cast<Ecoute*>(d)->echelleEntiere = f > 0 ? f : 1; },
#ifdef WL_OUTPUT_NAME_SINCE_VERSION
    .name = [](void* d, wl_output*, const char* nom) { static_cast<Ecoute*>(d)->lu.nom = nom; },
    .description = [](void*, wl_output*, const char*) {},
#endif
};

const zxdg_output_v1_listener kEcouteXdg = {
    .logical_position = [](void* d, zxdg_output_v1*, int32_t x, int32_t y) {
        auto* e = static_cast<Ecoute*>(d);
        e->lu.x = x;
        e->lu.y = y;
        e->logique = true;
    },
    .logical_size = [](void* d, zxdg_output_v1*, int32_t l, int32_t h) {
        auto* e = static_cast<Ecoute*>(d);
        e->lu.largeur = l;
        e->lu.hauteur = h;
        e->logique = true;
    },
    .done = [](void*, zxdg_output_v1*) {},
    .name = [](void* d, zxdg_output_v1*, const char* nom) { static_cast<Ecoute*>(d)->lu.nom = nom; },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

const wl_registry_listener kEcouteRegistre = {
    .global = [](void* d, wl_registry* r, uint32_t nom, const char* interface, uint32_t version) {
        auto* reg = static_cast<Registre*>(d);
        if (std::string_view(interface) == wl_output_interface.name) {
            auto e = std::make_unique<Ecoute>();
            e->sortie = static_cast<wl_output*>(
                wl_registry_bind(r, nom, &wl_output_interface, std::min<uint32_t>(version, 4)));
            wl_output_add_listener(e->sortie, &kEcouteSortie, e.get());
            reg->sorties.push_back(std::move(e));
        } else if (std::string_view(interface) == zxdg_output_manager_v1_interface.name) {
            reg->gestionnaire = static_cast<zxdg_output_manager_v1*>(
                wl_registry_bind(r, nom, &zxdg_output_manager_v1_interface, std::min<uint32_t>(version, 3)));
        }
    },
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

}  // namespace

std::vector<Sortie> sortiesWayland() {
    std::vector<Sortie> sorties;
    wl_display* affichage = wl_display_connect(nullptr);
    if (!affichage) return sorties;
    Registre reg;
    wl_registry* registre = wl_display_get_registry(affichage);
    wl_registry_add_listener(registre, &kEcouteRegistre, &reg);
    wl_display_roundtrip(affichage);
    if (reg.gestionnaire)
        for (auto& e : reg.sorties) {
            e->xdg = zxdg_output_manager_v1_get_xdg_output(reg.gestionnaire, e->sortie);
            zxdg_output_v1_add_listener(e->xdg, &kEcouteXdg, e.get());
        }
    wl_display_roundtrip(affichage);
    for (auto& e : reg.sorties) {
        Sortie s = e->lu;
        bool couchee = e->transformee % 2 == 1;  // 90° and 270° swap width and height
        int ml = couchee ? e->modeHauteur : e->modeLargeur, mh = couchee ? e->modeLargeur : e->modeHauteur;
        if (!e->logique) {
            s.largeur = ml / e->echelleEntiere;
            s.hauteur = mh / e->echelleEntiere;
        }
        s.echelle = s.largeur > 0 && ml > 0 ? static_cast<double>(ml) / s.largeur : e->echelleEntiere;
        if (s.largeur > 0 && s.hauteur > 0) sorties.push_back(std::move(s));
        if (e->xdg) zxdg_output_v1_destroy(e->xdg);
        if (wl_output_get_version(e->sortie) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
            wl_output_release(e->sortie);
        else
            wl_output_destroy(e->sortie);
    }
    if (reg.gestionnaire) zxdg_output_manager_v1_destroy(reg.gestionnaire);
    wl_registry_destroy(registre);
    wl_display_disconnect(affichage);
    return sorties;
}

std::optional<Sortie> sortiePrincipale() {
    if (auto json = demanderSway(kSwaySorties)) {
        auto sorties = sortiesDeSway(*json);
        if (!sorties.empty()) return choisirPrincipale(sorties);
    }
    return choisirPrincipale(sortiesWayland());
}

}  // namespace vimba::wayland
