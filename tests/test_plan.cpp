#include "clock_link/config_linea.h"
#include "clock_link/plan_envio.h"
#include "clock_link/transmision.h"

#include <QDateTime>
#include <gtest/gtest.h>
#include <vector>

using namespace quarvel;

namespace {

// Microseconds since 1970 of a local date and time.
qint64 us(int d, int m, int y, int hh, int mm, int ss, int ms = 0) {
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss, ms)).toMSecsSinceEpoch() * 1000;
}

constexpr double k9600 = 1e7 / 9600;
constexpr double k1200 = 1e7 / 1200;

std::vector<PasoDeCadena> pasos(std::initializer_list<int> retardos) {
    std::vector<PasoDeCadena> r;
    for (int ms : retardos)
        r.push_back({ms, 2});
    return r;
}

} // namespace

TEST(Plan, LineTimeOfAByteFollowsTheSettings) {
    EXPECT_NEAR(us_por_byte(validar_settings("9600,N,8,1")), 1041.67, 0.01);
    EXPECT_NEAR(us_por_byte(validar_settings("9600,E,7,2")), 1145.83, 0.01);
    EXPECT_NEAR(us_por_byte(validar_settings("1200,N,8,1.5")), 8750, 0.01);
}

TEST(Plan, TheSecondsByteLandsOnTheEarliestSecondTheStepsAllow) {
    struct Caso {
        const char* que;
        std::vector<PasoDeCadena> pasos;
        double us_byte;
        qint64 ahora, borde;
        // From the start to the end of the seconds value byte.
        double hasta_el_byte;
    };
    const auto cien = pasos({100, 100, 100, 100, 100, 100});
    const Caso casos[] = {
        {"100 ms steps", cien, k9600, us(7, 12, 2026, 10, 0, 20), us(7, 12, 2026, 10, 0, 21),
         600000 + 2 * k9600},
        {"just in time", cien, k9600, us(7, 12, 2026, 10, 0, 20, 397), us(7, 12, 2026, 10, 0, 21),
         600000 + 2 * k9600},
        {"a little late: the next second", cien, k9600, us(7, 12, 2026, 10, 0, 20, 398),
         us(7, 12, 2026, 10, 0, 22), 600000 + 2 * k9600},
        {"uneven delays, slow line", pasos({10, 20, 30, 40, 50, 60}), k1200,
         us(7, 12, 2026, 10, 0, 20, 500), us(7, 12, 2026, 10, 0, 21), 210000 + 2 * k1200},
        {"bytes queue behind a slow line", pasos({1, 1, 1, 1, 1, 1}), k1200,
         us(7, 12, 2026, 10, 0, 20, 950), us(7, 12, 2026, 10, 0, 22), 1000 + 12 * k1200},
        {"clear of a change of minute", cien, k9600, us(7, 12, 2026, 10, 0, 57, 500),
         us(7, 12, 2026, 10, 1, 2), 600000 + 2 * k9600},
    };
    for (const Caso& c : casos) {
        const PlanDeEnvio p = planificar_envio(c.ahora, c.pasos, 5, c.us_byte);
        EXPECT_TRUE(p.llega) << c.que;
        EXPECT_EQ(p.borde_us, c.borde) << c.que;
        EXPECT_NEAR(static_cast<double>(p.borde_us - p.inicio_us), c.hasta_el_byte, 1) << c.que;
        EXPECT_GE(p.inicio_us, c.ahora) << c.que;
        EXPECT_LT(p.inicio_us - c.ahora, 5'000'000) << c.que;
    }
}

TEST(Plan, ASetCarriesTheDateAndTimeOfItsSecondClearOfAChangeOfMinute) {
    // A clock running with the PC would carry a minute written just before
    // the change once more: the second is the first one clear of it.
    const auto cien = pasos({100, 100, 100, 100, 100, 100});
    const std::pair<qint64, QDateTime> casos[] = {
        {us(31, 12, 2029, 23, 59, 59, 200), QDateTime(QDate(2030, 1, 1), QTime(0, 0, 2))},
        {us(29, 2, 2028, 23, 59, 59, 300), QDateTime(QDate(2028, 3, 1), QTime(0, 0, 2))},
        {us(30, 11, 2026, 23, 59, 59, 100), QDateTime(QDate(2026, 12, 1), QTime(0, 0, 2))},
        {us(7, 12, 2026, 14, 59, 58), QDateTime(QDate(2026, 12, 7), QTime(15, 0, 2))},
        {us(7, 12, 2026, 14, 5, 57, 300), QDateTime(QDate(2026, 12, 7), QTime(14, 5, 58))},
        {us(7, 12, 2026, 14, 6, 0, 300), QDateTime(QDate(2026, 12, 7), QTime(14, 6, 2))},
    };
    for (const auto& [ahora, esperado] : casos)
        EXPECT_EQ(planificar_envio(ahora, cien, 5, k9600).borde, esperado)
            << esperado.toString().toStdString();
    const DatosEnvio d = datos_de_envio(planificar_envio(casos[0].first, cien, 5, k9600).borde);
    EXPECT_EQ(d.dia, 0x01);
    EXPECT_EQ(d.mes, 0x01);
    EXPECT_EQ(d.anio, 0x30);
    EXPECT_EQ(d.hora, 0x00);
    EXPECT_EQ(d.minutos, 0x00);
    EXPECT_EQ(d.segundos, 0x02);
    // A chain longer than a minute cannot keep clear: the earliest second.
    const auto larga = pasos({20000, 20000, 20000, 20000, 1, 1});
    EXPECT_EQ(planificar_envio(us(7, 12, 2026, 14, 5, 0), larga, 5, k9600).borde_us,
              us(7, 12, 2026, 14, 6, 21));
}

TEST(Plan, AWaitOf0BeforeTheSecondsStepStartsAtOnceAndNeverLands) {
    const qint64 ahora = us(7, 12, 2026, 10, 0, 20, 700);
    for (const auto& p : {pasos({100, 100, 0, 100, 100, 100}), pasos({0, 0, 0, 0, 0, 0}),
                          std::vector<PasoDeCadena>{}}) {
        const PlanDeEnvio plan = planificar_envio(ahora, p, 5, k9600);
        EXPECT_FALSE(plan.llega);
        EXPECT_EQ(plan.inicio_us, ahora);
        EXPECT_EQ(plan.borde_us, us(7, 12, 2026, 10, 0, 20));
    }
    // After the seconds step a 0 changes nothing.
    EXPECT_TRUE(planificar_envio(ahora, pasos({100, 100, 100, 100, 100, 100, 0}), 5, k9600).llega);
}

TEST(Plan, ASecondsOnlySendLandsFromSecond05To54) {
    const std::pair<qint64, qint64> casos[] = {
        {us(7, 12, 2026, 10, 0, 20, 500), us(7, 12, 2026, 10, 0, 21)},
        {us(7, 12, 2026, 10, 0, 53, 997), us(7, 12, 2026, 10, 0, 54)},
        {us(7, 12, 2026, 10, 0, 53, 999), us(7, 12, 2026, 10, 1, 5)},
        {us(7, 12, 2026, 10, 0, 59, 999), us(7, 12, 2026, 10, 1, 5)},
        {us(7, 12, 2026, 10, 1, 3, 200), us(7, 12, 2026, 10, 1, 5)},
        {us(7, 12, 2026, 10, 1, 4), us(7, 12, 2026, 10, 1, 5)},
        {us(31, 12, 2026, 23, 59, 58), us(1, 1, 2027, 0, 0, 5)},
    };
    for (const auto& [ahora, borde] : casos) {
        const PlanDeEnvio p = planificar_segundos(ahora, k9600);
        EXPECT_EQ(p.borde_us, borde) << p.borde.toString().toStdString();
        EXPECT_NEAR(static_cast<double>(p.borde_us - p.inicio_us), 2 * k9600, 1);
    }
}
