#include "clock_link/codificacion.h"
#include "clock_link/decodificacion.h"
#include "clock_link/transmision.h"
#include "platform/fallo.h"
#include "platform/numeros.h"

#include <gtest/gtest.h>

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

TEST(Codificacion, SenderEncodersOnlyWholeNumbersUpTo59) {
    EXPECT_EQ(eval_dato_dia(0), 0x00);
    EXPECT_EQ(eval_dato_mes(9), 0x09);
    EXPECT_EQ(eval_dato_anio(10), 0x10);
    EXPECT_EQ(eval_dato_hora(26), 0x26);
    EXPECT_EQ(eval_dato_minutos(31), 0x31);
    EXPECT_EQ(eval_dato_segundos(59), 0x59);
    for (double sin_valor : {60.0, -1.0, 2.5, 99.0})
        EXPECT_FALSE(eval_dato_segundos(sin_valor).has_value()) << sin_valor;
    EXPECT_EQ(byte_de_valor(std::nullopt), '\0');
    EXPECT_EQ(byte_de_valor(0x43), 'C');
}

TEST(Codificacion, CheckerEncoderPassesOutOfRangeThrough) {
    EXPECT_EQ(eval_dato_salida(0), QByteArray(1, '\0'));
    EXPECT_EQ(eval_dato_salida(26), QByteArray(1, '\x26'));
    EXPECT_EQ(eval_dato_salida(59), QByteArray(1, '\x59'));
    EXPECT_EQ(eval_dato_salida(60), QByteArray(1, '\x3C'));
    EXPECT_EQ(eval_dato_salida(99), QByteArray(1, '\x63'));
    for (int n = 0; n <= 59; ++n)
        EXPECT_EQ(static_cast<unsigned char>(eval_dato_salida(n)[0]), *eval_dato_dia(n));
}

TEST(Codificacion, DecoderInvertsBcdAndPassesOtherBytes) {
    for (int n = 0; n <= 59; ++n)
        EXPECT_EQ(eval_dato_entrada(bcd(n)), n);
    EXPECT_EQ(eval_dato_entrada(0x0A), 10);
    EXPECT_EQ(eval_dato_entrada(0x0F), 15);
    EXPECT_EQ(eval_dato_entrada(0x1A), 26);
    EXPECT_EQ(eval_dato_entrada(0x5A), 90);
    EXPECT_EQ(eval_dato_entrada(0xFF), 255);
}

TEST(Transmision, ValuesLoadedByCharacterPositionWithSecond59Capped) {
    const DatosEnvio d = cargar_datos_envio("05/12/2026", "19:33:43", Segundo::ComoSeLee);
    EXPECT_EQ(d.dia, 0x05);
    EXPECT_EQ(d.mes, 0x12);
    EXPECT_EQ(d.anio, 0x26);
    EXPECT_EQ(d.hora, 0x19);
    EXPECT_EQ(d.minutos, 0x33);
    EXPECT_EQ(d.segundos, 0x43);
    EXPECT_EQ(cargar_datos_envio("05-12-2026", "19.33.43", Segundo::Siguiente).segundos, 0x44);
    EXPECT_EQ(segundos_de_envio("14:05:59", Segundo::Siguiente), 0x59);
    EXPECT_EQ(segundos_de_envio("14:05:59", Segundo::ComoSeLee), 0x59);
    EXPECT_EQ(segundos_de_envio("14:05:58", Segundo::Siguiente), 0x59);
    // Year 2060 has no value; empty texts read as 0.
    EXPECT_FALSE(cargar_datos_envio("05/12/2060", "", Segundo::ComoSeLee).anio.has_value());
    EXPECT_EQ(cargar_datos_envio("", "", Segundo::ComoSeLee).hora, 0x00);
}

TEST(Respuesta, DecodesPositionsAndBuildsTexts) {
    const QByteArray r("CXd\x05m\x12y\x08h\x14n\x05s\x33S\r\n", 17);
    EXPECT_TRUE(respuesta_completa(r));
    EXPECT_FALSE(respuesta_completa("abcs"));
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
    EXPECT_EQ(texto_hora_reloj(malo), "25:61:0");
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
