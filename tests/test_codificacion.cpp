#include "clock_link/codificacion.h"
#include "clock_link/decodificacion.h"
#include "clock_link/plan_envio.h"
#include "clock_link/puerto_serie.h"
#include "clock_link/transmision.h"
#include "platform/fallo.h"
#include "platform/numeros.h"
#include "tests/apoyo.h"

#include <QDateTime>
#include <gtest/gtest.h>
#include <vector>

using namespace quarvel;

TEST(Numeros, LeadingNumberOfAText) {
    EXPECT_EQ(numero_de_texto("5 min"), 5);
    EXPECT_EQ(numero_de_texto("   7"), 7);
    EXPECT_EQ(numero_de_texto("2.5"), 2.5);
    EXPECT_EQ(numero_de_texto("-3x"), -3);
    EXPECT_EQ(numero_de_texto("abc"), 0);
    EXPECT_EQ(numero_de_texto(""), 0);
    EXPECT_EQ(numero_de_texto("1 2"), 1);
}

TEST(Numeros, StrictConversionRoundsHalfToEvenAndRefusesText) {
    EXPECT_EQ(entero_estricto(QStringLiteral(" 100 "), "[T1]"), 100);
    EXPECT_EQ(entero_estricto(QStringLiteral("2.5"), "[T1]"), 2);
    EXPECT_EQ(entero_estricto(QStringLiteral("3.5"), "[T1]"), 4);
    EXPECT_EQ(entero_estricto(QStringLiteral("-0.5"), "[T1]"), 0);
    EXPECT_EQ(entero_estricto(std::nullopt, "[T1]"), 0);
    for (const char* malo : {"", "  ", "5 min", "abc", "1,5", "9999999999999"}) {
        try {
            entero_estricto(QString::fromLatin1(malo), "[T4]");
            ADD_FAILURE() << "accepted " << malo;
        } catch (const Fallo& f) {
            EXPECT_TRUE(f.descripcion().contains("[T4]"));
        }
    }
    EXPECT_EQ(a_entero16(32767, "p"), 32767);
    EXPECT_THROW(a_entero16(32768, "p"), Fallo);
    EXPECT_THROW(a_entero16(-32769, "p"), Fallo);
}

TEST(Codificacion, ZeroTo99RoundTripInPackedDecimalOtherNumbersKeepTheOldRules) {
    using Codificador = std::optional<int> (*)(double);
    const Codificador remitente[] = {eval_dato_dia,  eval_dato_mes,     eval_dato_anio,
                                     eval_dato_hora, eval_dato_minutos, eval_dato_segundos};
    for (int n = 0; n <= 99; ++n) {
        const int b = 16 * (n / 10) + n % 10;
        for (auto codificar : remitente)
            EXPECT_EQ(codificar(n), b) << n;
        EXPECT_EQ(eval_dato_salida(n), QByteArray(1, static_cast<char>(b))) << n;
        EXPECT_EQ(eval_dato_entrada(b), n) << n;
    }
    // Outside 0 to 99: the sender has no value (sent as 0x00), the checker
    // passes the number through, the decoder gives a byte that is no packed
    // decimal its own value.
    for (double sin_valor : {100.0, -1.0, 2.5})
        EXPECT_FALSE(eval_dato_segundos(sin_valor).has_value()) << sin_valor;
    EXPECT_EQ(byte_de_valor(std::nullopt), '\0');
    EXPECT_EQ(eval_dato_salida(100), QByteArray(1, '\x64'));
    const std::pair<int, int> bytes[] = {{0x0A, 10},  {0x0F, 15},  {0x1A, 26}, {0x5A, 90},
                                         {0x6A, 106}, {0xA0, 160}, {0xFF, 255}};
    for (const auto& [byte, valor] : bytes)
        EXPECT_EQ(eval_dato_entrada(byte), valor) << byte;
}

TEST(Transmision, PiecesOfTheDisplayTextsAndTheValuesOfADate) {
    EXPECT_EQ(numero_de_pieza("05/12/2026", 4, 2), 12);
    EXPECT_EQ(numero_de_pieza("05/12/2026", 11, 2), 0) << "past the end";
    EXPECT_EQ(numero_final("19:33:43", 2), 43);
    EXPECT_EQ(numero_final("7", 2), 7);
    const DatosEnvio d = datos_de_envio(QDateTime(QDate(2026, 12, 5), QTime(19, 33, 43)));
    const std::optional<int> esperado[] = {0x05, 0x12, 0x26, 0x19, 0x33, 0x43};
    const std::optional<int> valores[] = {d.dia, d.mes, d.anio, d.hora, d.minutos, d.segundos};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(valores[i], esperado[i]) << i;
    EXPECT_TRUE(d.completos());
}

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

TEST(Respuesta, DecodesPositionsAndBuildsTexts) {
    const QByteArray r("CXd\x05m\x12y\x08h\x14n\x05s\x33S\r\n", 17);
    EXPECT_TRUE(respuesta_completa(r));
    EXPECT_FALSE(respuesta_completa("abcs"));
    // 0x53 is "S": as a minute or a year it is a value, and only the "S"
    // after the six values ends the reply, however the bytes arrive.
    const QByteArray r53 = respuesta(5, 12, 53, 14, 53, 53);
    for (qsizetype n = 0; n < r53.size(); ++n) {
        EXPECT_FALSE(respuesta_completa(r53.left(n))) << n;
        EXPECT_TRUE(respuesta_completa(r53.mid(n), n)) << n;
    }
    const LecturaReloj l = decodificar_salida(r);
    EXPECT_EQ(texto_fecha_reloj(l), "05/12/2008");
    EXPECT_EQ(texto_hora_reloj(l), "14:05:33");
    EXPECT_FALSE(reloj_equivocado("05/12/2008", "14:05:33", "05/12/2008", "14:05:31"));
    EXPECT_TRUE(reloj_equivocado("05/12/2008", "14:04:51", "05/12/2008", "14:05:31"));
    EXPECT_TRUE(reloj_equivocado("04/12/2008", "14:05:33", "05/12/2008", "14:05:31"));
}

TEST(Respuesta, YearsFrom2030AreThisCenturyAndNonsenseNeverMatches) {
    LecturaReloj l{5, 12, 31, 14, 5, 33};
    EXPECT_EQ(texto_fecha_reloj(l), "05/12/2031");
    l.anio = 99;
    EXPECT_EQ(texto_fecha_reloj(l), "05/12/2099");
    const LecturaReloj malo{45, 13, 8, 25, 61, 0};
    EXPECT_EQ(texto_fecha_reloj(malo), "45/13/8");
    EXPECT_EQ(texto_hora_reloj(malo), "25:61:00");
    // A seconds byte that is no packed decimal leaves hours and minutes whole.
    EXPECT_EQ(
        texto_hora_reloj(decodificar_salida(respuesta(5, 12, 8, 14, 5, 0).replace(13, 1, "\x5A"))),
        "14:05:90");
    // Short replies read zeros past the end and a line end inside.
    const LecturaReloj corto = decodificar_salida("\r\n");
    EXPECT_EQ(corto.dia, 0);
    EXPECT_EQ(texto_fecha_reloj(corto), "0/0/0");
}

TEST(Respuesta, SincroLineIsExact) {
    EXPECT_EQ(linea_sincro("04/12/2008", "05/12/2008", "14:05:33", "14:05:31"),
              QByteArray("fecha reloj : 04/12/2008  fecha prog : 05/12/2008  hora reloj : "
                         "14:05:33  hora prog : 14:05:31\r\n"));
}
