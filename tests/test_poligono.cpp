#include "clock_link/poligono.h"

#include <algorithm>
#include <gtest/gtest.h>

using quarvel::Poligono;
using quarvel::PuntoAD;

TEST(Poligono, BandRangeCentroidAndHull) {
    // A box 1 s wide, ±100 ppm; 1000 s on, its values span a ± 0.1 s.
    const Poligono p = quarvel::caja(0, 1, -100e-6, 100e-6);
    const auto [lo, hi] = quarvel::rango_en(p, 1000);
    EXPECT_DOUBLE_EQ(lo, -0.1);
    EXPECT_DOUBLE_EQ(hi, 1.1);
    struct Caso {
        double delta_s, lo_s, hi_s;
        bool vacio;
        double lo_esperado, hi_esperado;
    };
    const Caso casos[] = {
        {0, 0.25, 0.5, false, 0.25, 0.5},    // inside at the reference
        {1000, 1.05, 2, false, 1.05, 1.1},   // only the fast corner
        {1000, 1.2, 2, true, 0, 0},          // beyond every value
        {-1000, -3, -0.2, true, 0, 0},       // before, beyond
        {1000, -0.1, 1.1, false, -0.1, 1.1}, // the whole range: uncut
    };
    for (const Caso& c : casos) {
        const Poligono q = quarvel::cortar_banda(p, c.delta_s, c.lo_s, c.hi_s);
        EXPECT_EQ(q.size() < 3, c.vacio) << c.delta_s << " " << c.lo_s;
        if (c.vacio)
            continue;
        const auto [l, h] = quarvel::rango_en(q, c.delta_s);
        EXPECT_NEAR(l, c.lo_esperado, 1e-12);
        EXPECT_NEAR(h, c.hi_esperado, 1e-12);
        // Cutting never adds drift.
        const auto [d_lo, d_hi] = quarvel::rango_deriva(q);
        EXPECT_GE(d_lo, -100e-6 - 1e-18);
        EXPECT_LE(d_hi, 100e-6 + 1e-18);
    }
    // A right triangle's centroid is its vertices' mean, whatever the axes'
    // scales; a sliver's is the mean too.
    const Poligono t = {{0, 0}, {0.003, 0}, {0, 30e-6}};
    const PuntoAD c = quarvel::centroide(t);
    EXPECT_NEAR(c.a_s, 0.001, 1e-15);
    EXPECT_NEAR(c.deriva, 10e-6, 1e-18);
    const PuntoAD s = quarvel::centroide({{0, 1e-6}, {1e-9, 1e-6}, {2e-9, 1e-6}});
    EXPECT_NEAR(s.a_s, 1e-9, 1e-18);
    // The hull drops the inside point and repeats none.
    const Poligono h =
        quarvel::envolvente({{0, 0}, {1, 0}, {1, 1e-6}, {0, 1e-6}, {0.5, 0.5e-6}, {1, 0}});
    EXPECT_EQ(h.size(), 4u);
    EXPECT_EQ(std::count(h.begin(), h.end(), PuntoAD{0.5, 0.5e-6}), 0);
}
