#include "clock_link/codificacion.h"
#include "clock_link/decodificacion.h"
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
