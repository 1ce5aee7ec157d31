// The bridge's action table and the escaping of notices.
#include <gtest/gtest.h>

#include "app/pont.h"

using namespace vimba;

TEST(Pont, ActionTable) {
    struct Cas {
        MessagePage m;
        std::string attendu;
    } cas[] = {
        {{"fermer", {}}, "fermer"},
        {{"Fermer", {}}, ""},
        {{"code", std::string("AB12")}, "ouvrir AB12"},
        {{"code", {}}, "ouvrir "},
        {{"arreter", {}}, "refermer"},
        {{"reprendre", {}}, "activer"},
        {{"autorise", {}}, "autoriser"},
        {{"revoir-autorisations", {}}, "dire"},
        {{"fermer ", {}}, ""},
        {{"", {}}, ""},
    };
    for (const auto& c : cas) {
        std::string fait;
        ActionsPage a{[&] { fait = "fermer"; }, [&](const std::string& code) { fait = "ouvrir " + code; },
                      [&] { fait = "refermer"; }, [&] { fait = "activer"; }, [&] { fait = "autoriser"; },
                      [&] { fait = "dire"; }};
        agir(c.m, a);
        EXPECT_EQ(fait, c.attendu) << c.m.action;
    }
}

TEST(Pont, NoticeEscaping) {
    struct Cas {
        std::string texte, script;
    } cas[] = {
        {"l'accès", R"(repondre('souci','l\'accès'))"},
        {R"(a\b)", R"(repondre('souci','a\\b'))"},
        {R"(\')", R"(repondre('souci','\\\''))"},
        {"deux\nlignes", "repondre('souci','deux lignes')"},
        {"l’accès « ok »…", "repondre('souci','l’accès « ok »…')"},
    };
    for (const auto& c : cas) EXPECT_EQ(scriptReponse("souci", c.texte), c.script) << c.texte;
    EXPECT_EQ(texteAutorisations(true, false), "1 0");
    EXPECT_EQ(texteAutorisations(false, true), "0 1");
}
