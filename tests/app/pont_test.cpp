// The bridge's action table; notices are tested in the page itself (fenetre_test).
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
