#include "clock_link/estimador.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using quarvel::EstimadorDesvio;

namespace {

// A clock on a line: its offset to the PC drifts from a set, it answers a
// request with the whole second it holds a fixed latency later, and each
// request's moment wanders by up to a byte time.
struct Aparato {
    double desvio0_s;
    double deriva;
    double latencia_s;
    double fluctuacion_s;
    qint64 puesta_us = 0;
    std::mt19937 azar{7};

    double desvio(qint64 t_us) const {
        return desvio0_s + deriva * static_cast<double>(t_us - puesta_us) / 1e6;
    }
    qint64 responder(qint64 t_us) {
        std::uniform_real_distribution<double> f(-fluctuacion_s, fluctuacion_s);
        const double muestra_s = static_cast<double>(t_us) / 1e6 + latencia_s + f(azar);
        return static_cast<qint64>(std::floor(muestra_s + desvio(t_us)));
    }
};

// The checker's reads: one a minute, inside second 31, from `inicio`. The
// bound holds at every read, but for those before a read showed a knock.
qint64 leer(EstimadorDesvio& e, Aparato& a, qint64 inicio_us, int n, bool golpe = false) {
    qint64 t = inicio_us;
    bool visto = !golpe;
    for (int i = 1; i <= n; ++i) {
        const qint64 segundo31 = inicio_us + i * 60'000'000LL + 31'000'000;
        t = e.momento_de_lectura(segundo31);
        EXPECT_GE(t, segundo31);
        EXPECT_LT(t, segundo31 + 1'000'000);
        visto = !e.lectura(t, a.responder(t)) || visto;
        const auto est = e.en(t);
        if (visto) {
            EXPECT_LE(std::abs(est.desvio_s - a.desvio(t)), est.cota_s) << i;
        }
    }
    EXPECT_TRUE(visto) << "a knock never showed";
    return t;
}

} // namespace

TEST(Estimador, NarrowsToMillisecondsAndItsBoundAlwaysHolds) {
    struct Caso {
        double desvio0_ms, deriva_ppm, latencia_ms;
    };
    const Caso casos[] = {{0.5, 0, 0}, {-1.5, 200, 12}, {1, -200, 30}, {0, 57, 3}, {-0.7, -13, 21}};
    const qint64 inicio = 1'796'000'000'000'000LL;
    for (const Caso& c : casos) {
        Aparato a{c.desvio0_ms / 1e3, c.deriva_ppm * 1e-6, c.latencia_ms / 1e3, 0.00104};
        a.puesta_us = inicio;
        EstimadorDesvio e;
        e.puesta(inicio);
        const qint64 t = leer(e, a, inicio, 20);
        const auto est = e.en(t);
        ASSERT_TRUE(est.valida);
        EXPECT_NEAR(est.desvio_s, a.desvio(t), 0.02) << c.deriva_ppm;
        // An hour of reads: the drift to about a ppm.
        const qint64 t2 = leer(e, a, t - 31'000'000, 50);
        const auto hora = e.en(t2);
        EXPECT_LE(std::abs(hora.deriva - a.deriva), hora.cota_deriva) << c.deriva_ppm;
        EXPECT_LT(hora.cota_deriva, 2e-6) << c.deriva_ppm;
        EXPECT_LE(std::abs(hora.desvio_s - a.desvio(t2)), hora.cota_s) << c.deriva_ppm;
    }
}

TEST(Estimador, ASetInTheMiddleAndAClockChangedBehindItsBack) {
    const qint64 inicio = 1'796'000'000'000'000LL;
    Aparato a{0.001, 80e-6, 0.015, 0.00104};
    a.puesta_us = inicio;
    EstimadorDesvio e;
    e.puesta(inicio);
    qint64 t = leer(e, a, inicio, 12);
    // Set again: near 0 there, what was learnt of L and d kept.
    const qint64 otra = t + 29'000'000;
    a.puesta_us = otra;
    a.desvio0_s = -0.0012;
    e.puesta(otra);
    t = leer(e, a, otra, 3);
    auto est = e.en(t);
    EXPECT_LT(est.cota_s, 0.015) << "the drift is known from before the set";
    // Knocked 0.6 s off by someone: a read shows it, and the reads after it
    // follow the new offset through the latency learnt before.
    a.desvio0_s += 0.6;
    const qint64 golpe = t + 29'000'000;
    t = leer(e, a, golpe, 12, true);
    est = e.en(t);
    EXPECT_LT(est.cota_s, 0.1) << "followed, through the latency learnt before";
    // A clock that stops answering adds nothing, and the bound still holds.
    const qint64 despues = t + 600'000'000;
    est = e.en(despues);
    EXPECT_LE(std::abs(est.desvio_s - a.desvio(despues)), est.cota_s);
}
