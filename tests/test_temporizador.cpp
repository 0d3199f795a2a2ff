#include "platform/fallo.h"
#include "platform/fuente_hora.h"
#include "platform/temporizador.h"
#include "tests/apoyo.h"

#include <gtest/gtest.h>

using namespace quarvel;

TEST(Temporizador, WindowTimerSemantics) {
    RelojVirtual reloj;
    const qint64 t0 = reloj.t_us;
    Temporizador t(QStringLiteral("T"), 20, false, reloj);
    std::vector<qint64> ticks;
    QObject::connect(&t, &Temporizador::Timer, [&] { ticks.push_back(reloj.t_us - t0); });
    EXPECT_THROW(t.setInterval(-1), Fallo);
    EXPECT_THROW(t.setInterval(65536), Fallo);
    t.setInterval(65535);
    EXPECT_EQ(t.Interval(), 65535);

    // Interval 0 never fires, even enabled.
    t.setInterval(0);
    t.setEnabled(true);
    reloj.avanzar(1000);
    EXPECT_TRUE(ticks.empty());
    EXPECT_TRUE(t.Enabled());

    // A new interval restarts the count; enabling a running timer does not.
    t.setInterval(200);
    reloj.avanzar(100);
    t.setEnabled(true);
    reloj.avanzar(450);
    EXPECT_EQ(ticks, (std::vector<qint64>{1'200'000, 1'400'000}));
    t.setEnabled(false);
    reloj.avanzar(1000);
    EXPECT_EQ(ticks.size(), 2u);
    EXPECT_EQ(reloj.pendientes(), 0u);
}

TEST(Temporizador, LateTicksAreNotMadeUpAndChainedStepsKeepTheirSpacing) {
    RelojVirtual reloj;
    const qint64 t0 = reloj.t_us;
    Temporizador t(QStringLiteral("T"), 10, true, reloj);
    std::vector<qint64> ticks;
    QObject::connect(&t, &Temporizador::Timer, [&] {
        ticks.push_back(reloj.t_us - t0);
        // A 25 ms handler on a 10 ms timer.
        reloj.t_us += 25'000;
    });
    reloj.avanzar(100);
    // Each late tick is followed by one, never by the ones it missed.
    EXPECT_EQ(ticks, (std::vector<qint64>{10'000, 35'000, 60'000, 85'000, 110'000}));

    // Enabled from a moment past: the tick keeps its place from there.
    Temporizador paso(QStringLiteral("P"), 100, false, reloj);
    qint64 vencido = -1;
    QObject::connect(&paso, &Temporizador::Timer, [&] { vencido = paso.vencimiento_us(); });
    paso.activarDesde(reloj.t_us - 30'000);
    const qint64 previsto = paso.proximo_us();
    EXPECT_EQ(previsto, reloj.t_us + 70'000);
    reloj.avanzar(80);
    EXPECT_EQ(vencido, previsto);
}

TEST(Temporizador, AlignedTicksFallOnTheClocksBoundaries) {
    struct Caso {
        int intervalo;
        Temporizador::PrimerTick primero;
        int ms_inicio;
        std::vector<int> ms_ticks; // from the whole second before the start
    };
    const Caso casos[] = {
        {1000, Temporizador::PrimerTick::TrasUnIntervalo, 400, {2000, 3000, 4000}},
        {1000, Temporizador::PrimerTick::TrasUnIntervalo, 0, {1000, 2000, 3000}},
        {100, Temporizador::PrimerTick::EnElProximoLimite, 450, {500, 600, 700}},
        {100, Temporizador::PrimerTick::EnElProximoLimite, 980, {1000, 1100, 1200}},
    };
    for (const Caso& c : casos) {
        RelojVirtual reloj;
        reloj.fijar(7, 12, 2026, 10, 0, 0, c.ms_inicio);
        const qint64 base = reloj.t_us - c.ms_inicio * 1000LL;
        Temporizador t(QStringLiteral("T"), c.intervalo, true, reloj);
        t.alinearAlReloj(c.primero);
        std::vector<int> ticks;
        QObject::connect(&t, &Temporizador::Timer,
                         [&] { ticks.push_back(static_cast<int>((reloj.t_us - base) / 1000)); });
        reloj.avanzar(c.ms_ticks.back() - c.ms_inicio);
        EXPECT_EQ(ticks, c.ms_ticks) << c.intervalo << " from " << c.ms_inicio;
    }
    // The PC's clock stepped back an hour: the next tick is the next
    // boundary, not an hour away.
    EXPECT_EQ(
        siguiente_tick(10'000'000'000, 10'000'000'000 - 3'600'000'000 + 150'000, 100'000, true),
        10'000'000'000 - 3'600'000'000 + 200'000);
    EXPECT_EQ(siguiente_tick(10'000'000'000, 10'000'450'000, 100'000, true), 10'000'500'000);
}

TEST(HoraDelSistema, CallsComeOnTheirMomentNeverBefore) {
    HoraDelSistema reloj;
    for (const auto precision : {FuenteHora::Precision::Exacta, FuenteHora::Precision::NoAntes}) {
        const qint64 cuando = reloj.ahora_us() + 30'000;
        qint64 llamada = 0;
        reloj.programar(cuando, precision, [&] { llamada = reloj.ahora_us(); });
        const FuenteHora::Id olvidada = reloj.programar(cuando, precision, [] { FAIL(); });
        reloj.cancelar(olvidada);
        // Windows' fine timer, only while an exact call waits.
        const bool exacta = precision == FuenteHora::Precision::Exacta;
        EXPECT_EQ(ResolucionFina::vigentes(), exacta ? 1 : 0);
        for (int i = 0; i < 500 && llamada == 0; ++i)
            esperar_eventos(10);
        EXPECT_GE(llamada, cuando);
        // Generous: the machine may be loaded; the benchmark measures it.
        EXPECT_LT(llamada - cuando, 1'000'000);
        EXPECT_EQ(ResolucionFina::vigentes(), 0);
        reloj.cancelar(reloj.programar(cuando, precision, [] {}));
        EXPECT_EQ(ResolucionFina::vigentes(), 0) << "a cancelled call lets it go";
    }
}
