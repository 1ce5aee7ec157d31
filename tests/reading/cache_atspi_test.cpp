// An application's cache of its tree: children put in order by their index, a family the
// cache does not hold whole left to be asked, the rest of each object as given.
#include <gtest/gtest.h>

#include "reading/linux/cache_atspi.h"

namespace vimba::lecture {
namespace {

TEST(CacheAtspi, EnfantsParIndiceEtFamillesIncompletes) {
    // root: three children given out of order; /a: two children at one index; /b: one of
    // its two children missing; /c: a text field.
    GVariant* v = g_variant_ref_sink(g_variant_new_parsed(
        "([((':1.0', objectpath '/c'), (':1.0', objectpath '/root'), (':1.0', objectpath '/root'), 2, 0,"
        "   ['org.a11y.atspi.Accessible', 'org.a11y.atspi.Text', 'org.a11y.atspi.Component'], 'Champ', uint32 61, 'aide', [uint32 5, 7]),"
        "  ((':1.0', objectpath '/a'), (':1.0', objectpath '/root'), (':1.0', objectpath '/root'), 0, 1, @as [], 'A', uint32 39, '', @au []),"
        "  ((':1.0', objectpath '/root'), (':1.0', objectpath '/root'), (':1.0', objectpath '/null'), -1, 3, @as [], 'App', uint32 75, '', @au []),"
        "  ((':1.0', objectpath '/b'), (':1.0', objectpath '/root'), (':1.0', objectpath '/root'), 1, 2, ['org.a11y.atspi.Value'], 'B', uint32 39, '', @au []),"
        "  ((':1.0', objectpath '/a1'), (':1.0', objectpath '/root'), (':1.0', objectpath '/a'), 0, 0, @as [], 'x', uint32 29, '', @au []),"
        "  ((':1.0', objectpath '/a2'), (':1.0', objectpath '/root'), (':1.0', objectpath '/a'), 0, 0, @as [], 'y', uint32 29, '', @au []),"
        "  ((':1.0', objectpath '/b1'), (':1.0', objectpath '/root'), (':1.0', objectpath '/b'), 1, 0, @as [], 'z', uint32 29, '', @au [])],)"));
    const auto c = lireCache(v);
    g_variant_unref(v);
    ASSERT_EQ(c.size(), 7u);
    EXPECT_TRUE(c.at("/root").enfantsComplets);
    EXPECT_EQ(c.at("/root").enfants, (std::vector<std::string>{"/a", "/b", "/c"}));
    EXPECT_FALSE(c.at("/a").enfantsComplets);
    EXPECT_FALSE(c.at("/b").enfantsComplets);
    EXPECT_TRUE(c.at("/b").enfants.empty());
    EXPECT_TRUE(c.at("/a1").enfantsComplets);  // no children: nothing to ask
    const Connu& champ = c.at("/c");
    EXPECT_EQ(champ.role, 61u);
    EXPECT_EQ(champ.nom, "Champ");
    EXPECT_EQ(champ.description, "aide");
    EXPECT_EQ(champ.etats[0], 5u);
    EXPECT_EQ(champ.etats[1], 7u);
    EXPECT_TRUE(champ.aTexte && champ.aComposant && !champ.aValeur);
    EXPECT_TRUE(c.at("/b").aValeur);
}

}  // namespace
}  // namespace vimba::lecture
