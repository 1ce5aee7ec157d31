// The Wayland capture source finds changed rectangles by comparing frames: one per band of
// rows, as wide as the changed columns; the fourth byte (X) never counts.
#include <gtest/gtest.h>

#include "stream/capteur_wayland.h"

using namespace vimba::flux;

namespace {

ImageBGRA image(int l, int h) { return ImageBGRA{l, h, l * 4, std::vector<std::uint8_t>(static_cast<std::size_t>(l) * 4 * h, 7)}; }
void poser(ImageBGRA& i, int x, int y, int octet, std::uint8_t v) { i.pixels[static_cast<std::size_t>(y) * i.pas + x * 4 + octet] = v; }

struct Cas {
    const char* nom;
    std::vector<std::array<int, 3>> changes;  // x, y, octet
    std::vector<std::array<int, 4>> attendus;  // x, y, w, h
};

TEST(Differences, rectanglesParBande) {
    const std::vector<Cas> cas = {
        {"rien", {}, {}},
        {"un pixel", {{5, 3, 2}}, {{5, 0, 1, 16}}},
        {"octet X ignoré", {{5, 3, 3}}, {}},
        {"deux colonnes d'une bande", {{2, 1, 0}, {30, 14, 1}}, {{2, 0, 29, 16}}},
        {"deux bandes, la dernière plus courte", {{0, 0, 0}, {39, 39, 0}}, {{0, 0, 1, 16}, {39, 32, 1, 8}}},
    };
    for (const auto& c : cas) {
        const ImageBGRA a = image(40, 40);
        ImageBGRA b = a;
        for (const auto& [x, y, o] : c.changes) poser(b, x, y, o, 200);
        const auto r = differences(a, b);
        std::vector<std::array<int, 4>> obtenus;
        for (const Rect& x : r) obtenus.push_back({x.x, x.y, x.w, x.h});
        EXPECT_EQ(obtenus, c.attendus) << c.nom;
    }
}

TEST(Differences, autreTailleOuPremiereImageToutEntiere) {
    const auto r = differences(ImageBGRA{}, image(40, 20));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].w, 40);
    EXPECT_EQ(r[0].h, 20);
    EXPECT_EQ(differences(image(40, 20), image(20, 10)).size(), 1u);
}

}  // namespace
