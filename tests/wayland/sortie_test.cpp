// Which output is the main one and where sway's windows are, from sway's own replies.
#include <gtest/gtest.h>

#include "agent/wayland/sortie.h"
#include "agent/wayland/sway.h"

using namespace vimba::wayland;

TEST(Sortie, LaPrincipale) {
    struct Cas {
        const char* json;
        const char* attendue;
    } cas[] = {
        // The focused output wins, wherever it is; an inactive one never counts.
        {R"([{"name":"A","rect":{"x":0,"y":0,"width":1920,"height":1080},"scale":1},
             {"name":"B","rect":{"x":1920,"y":0,"width":1280,"height":720},"scale":2,"focused":true}])", "B"},
        {R"([{"name":"A","rect":{"x":-1280,"y":0,"width":1280,"height":720},"focused":false},
             {"name":"B","rect":{"x":0,"y":0,"width":1920,"height":1080}}])", "B"},
        {R"([{"name":"A","active":false,"rect":{"x":0,"y":0,"width":1920,"height":1080},"focused":true},
             {"name":"B","rect":{"x":5,"y":5,"width":800,"height":600}}])", "B"},
        {R"([])", ""},
        {R"(pas du json)", ""},
    };
    for (const auto& c : cas) {
        const auto s = choisirPrincipale(sortiesDeSway(c.json));
        EXPECT_EQ(s ? s->nom : "", c.attendue) << c.json;
    }
    const auto b = choisirPrincipale(sortiesDeSway(cas[0].json));
    EXPECT_EQ(b->x, 1920);
    EXPECT_EQ(b->largeur, 1280);
    EXPECT_EQ(b->echelle, 2);
}

TEST(Sortie, LesFenetresDeSway) {
    // A tiled window with a border, a floating X11 one holding the focus, a workspace without pid.
    const char* arbre = R"({"id":1,"nodes":[{"id":2,"type":"workspace","nodes":[
        {"id":10,"pid":100,"app_id":"gedit","name":"Notes","focused":false,"shell":"xdg_shell",
         "rect":{"x":0,"y":0,"width":960,"height":1080},"window_rect":{"x":2,"y":2,"width":956,"height":1076}}],
      "floating_nodes":[
        {"id":11,"pid":200,"app_id":null,"window_properties":{"class":"Firefox"},"name":"Banque",
         "focused":true,"shell":"xwayland","rect":{"x":300,"y":200,"width":800,"height":600}}]}]})";
    const auto fenetres = fenetresDe(arbre);
    ASSERT_EQ(fenetres.size(), 2u);
    EXPECT_EQ(fenetres[0].x, 2);
    EXPECT_EQ(fenetres[0].largeur, 956);
    EXPECT_FALSE(fenetres[0].xwayland);
    const auto f = fenetreFocaliseeDe(arbre);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->appId, "Firefox");
    EXPECT_EQ(f->titre, "Banque");
    EXPECT_EQ(f->pid, 200);
    EXPECT_TRUE(f->xwayland);
    EXPECT_EQ(f->x, 300);
    EXPECT_FALSE(fenetreFocaliseeDe(R"({"nodes":[]})"));
    // Another title of the same window is another key; no window in front has one too.
    EXPECT_NE(cleFenetre(true, 11, 200, "Banque"), cleFenetre(true, 11, 200, "Banque — connexion"));
    EXPECT_NE(cleFenetre(false, 0, 0, {}), 0u);
}
