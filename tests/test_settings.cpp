#include "platform/archivos.h"
#include "platform/fallo.h"
#include "settings/archivos_config.h"
#include "settings/lector_lineas.h"
#include "tests/apoyo.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

using namespace quarvel;

namespace {

std::vector<QByteArray> lineas(const QByteArray& datos) {
    LectorLineas l(datos);
    std::vector<QByteArray> r;
    while (!l.fin())
        r.push_back(l.leerLinea());
    return r;
}

} // namespace

TEST(LectorLineas, CrEndsLineLfAfterItSkippedLoneLfIsText) {
    using V = std::vector<QByteArray>;
    EXPECT_EQ(lineas("a\r\nb\rc"), (V{"a", "b", "c"}));
    EXPECT_EQ(lineas("a\nb\r\n"), (V{"a\nb"}));
    EXPECT_EQ(lineas("\r\n\r\n"), (V{"", ""}));
    EXPECT_EQ(lineas(" x \r\r\n"), (V{" x ", ""}));
    EXPECT_EQ(lineas(""), V{});
    EXPECT_EQ(lineas(QByteArray("a\0b\r\n", 5)), (V{QByteArray("a\0b", 3)}));
}

TEST(Intervalo, FirstLineOnlyEmptyFileFailsMissingFileNamed) {
    CarpetaTemporal dir;
    EXPECT_TRUE(descripcion_de([] { leer_intervalo(); }).contains("qv_int.ini"));
    CarpetaTemporal::escribir("qv_int.ini", "");
    EXPECT_TRUE(descripcion_de([] { leer_intervalo(); }).contains("qv_int.ini"));
    CarpetaTemporal::escribir("qv_int.ini", "\r\n");
    EXPECT_EQ(leer_intervalo(), QString());
    CarpetaTemporal::escribir("qv_int.ini", "5 min\r\n7\r\n");
    EXPECT_EQ(leer_intervalo(), QStringLiteral("5 min"));
    guardar_intervalo(QStringLiteral("5 min"));
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("5 min\r\n"));
}

TEST(Configuracion, WellFormedFileAndAbsentDiffersFromEmpty) {
    CarpetaTemporal dir;
    CarpetaTemporal::escribir("qv.ini", "[COM_PORT]\r\n3\r\n\r\n[T2]\r\n\r\n[T1]\r\n 100 \r\n");
    const configuracion_ini c = leer_configuracion();
    EXPECT_EQ(c.com_port, QStringLiteral("3"));
    EXPECT_FALSE(c.com_cfg.has_value());
    EXPECT_EQ(c.t1, QStringLiteral(" 100 "));
    ASSERT_TRUE(c.t2.has_value());
    EXPECT_TRUE(c.t2->isEmpty());
    EXPECT_FALSE(c.t7.has_value());
}

TEST(Configuracion, MarkersAreExactAndValuesAreNeverMarkers) {
    CarpetaTemporal dir;
    // A marker as value, lower case and trailing blank are not markers, a
    // repeated marker keeps the later value, separators may be anything.
    CarpetaTemporal::escribir("qv.ini", "[COM_PORT]\r\n[COM_CFG]\r\n9600,N,8,1\r\n"
                                        "[t1]\r\n1\r\n[T2] \r\n2\r\nnota\r\nnota\r\n"
                                        "[T3]\r\n3\r\n[T3]\r\n33");
    const configuracion_ini c = leer_configuracion();
    EXPECT_EQ(c.com_port, QStringLiteral("[COM_CFG]"));
    EXPECT_FALSE(c.com_cfg.has_value());
    EXPECT_FALSE(c.t1.has_value());
    EXPECT_FALSE(c.t2.has_value());
    EXPECT_EQ(c.t3, QStringLiteral("33"));
}

TEST(Configuracion, LfOnlyFileIsOneLineAndLastMarkerFails) {
    CarpetaTemporal dir;
    CarpetaTemporal::escribir("qv.ini", "[COM_PORT]\n1\n[COM_CFG]\n9600,N,8,1\n");
    const configuracion_ini c = leer_configuracion();
    EXPECT_FALSE(c.com_port || c.com_cfg || c.t1 || c.t7);

    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1") + "[T7]\r\n");
    const QString d = descripcion_de([] { leer_configuracion(); });
    EXPECT_TRUE(d.contains("qv.ini") && d.contains("[T7]")) << d.toStdString();
    QFile::remove("qv.ini");
    EXPECT_TRUE(descripcion_de([] { leer_configuracion(); }).contains("No se encontró"));
}

TEST(Configuracion, SaveWritesTheTwentySixLinesAndReadsBack) {
    CarpetaTemporal dir;
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1", {"10", "20", "30"}));
    guardar_configuracion("A", "B", "C", "D", "E");
    QByteArray esperado = "[COM_PORT]\r\nA\r\n\r\n[COM_CFG]\r\nB,C,D,E\r\n";
    for (int i = 1; i <= 7; ++i)
        esperado += "\r\n[T" + QByteArray::number(i) + "]\r\n 100 \r\n";
    EXPECT_EQ(CarpetaTemporal::leer("qv.ini"), esperado);
    EXPECT_EQ(lineas(esperado).size(), 26u);
    const configuracion_ini c = leer_configuracion();
    EXPECT_EQ(c.com_port, QStringLiteral("A"));
    EXPECT_EQ(c.com_cfg, QStringLiteral("B,C,D,E"));
    for (const auto* t : {&c.t1, &c.t2, &c.t3, &c.t4, &c.t5, &c.t6, &c.t7})
        EXPECT_EQ(*t, QStringLiteral(" 100 "));

    guardar_configuracion("", "", "", "", "");
    EXPECT_TRUE(
        CarpetaTemporal::leer("qv.ini").startsWith("[COM_PORT]\r\n\r\n\r\n[COM_CFG]\r\n,,,\r\n"));
}

TEST(Configuracion, SplitTakesOneCharBeforeEachCommaAndTheLast) {
    const auto s = separar_config_com(QStringLiteral("9600,N,8,1"));
    EXPECT_EQ(s.baud, "9600");
    EXPECT_EQ(s.parity, "N");
    EXPECT_EQ(s.data, "8");
    EXPECT_EQ(s.stop, "1");
    const auto t = separar_config_com(QStringLiteral("19200,EV,78,1.5"));
    EXPECT_EQ(t.baud, "19200");
    EXPECT_EQ(t.parity, "V");
    EXPECT_EQ(t.data, "8");
    EXPECT_EQ(t.stop, "5");
    EXPECT_EQ(separar_config_com(QStringLiteral(",,,")).baud, QString());
    EXPECT_TRUE(descripcion_de([] {
                    separar_config_com(QStringLiteral("9600,N,8"));
                }).contains("9600,N,8"));
    EXPECT_EQ(unir_config_com("a", "b", "c", "d"), QStringLiteral("a,b,c,d"));
}

TEST(Configuracion, WriteFailingHalfwayLeavesTheOldFileByteForByte) {
    CarpetaTemporal dir;
    const QByteArray viejo = qv_ini("4", "2400,E,7,2", {"10", "20"});
    CarpetaTemporal::escribir("qv.ini", viejo);
    CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
    // The child may write 40 bytes at most: the new file fails halfway.
    const int estado = con_disco_lleno(40, [] {
        const QString d = descripcion_de([] { guardar_configuracion("1", "9600", "N", "8", "1"); });
        const QString e = descripcion_de([] { guardar_intervalo(QString(60, u'9')); });
        return d.contains("qv.ini") && e.contains("qv_int.ini") ? 0 : 1;
    });
    if (estado == kSinSistema)
        GTEST_SKIP() << "no file size limit on this system";
    EXPECT_EQ(estado, 0);
    EXPECT_EQ(CarpetaTemporal::leer("qv.ini"), viejo);
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("5\r\n"));
    EXPECT_EQ(QDir().entryList(QDir::Files).size(), 2) << "no temporary file left behind";
}

TEST(Archivos, AnAppendIsWholeOrTakenBack) {
    CarpetaTemporal dir;
    CarpetaTemporal::escribir("sincro.txt", "linea vieja\r\n");
    // The disk takes 20 bytes more: the new line fails halfway.
    const int estado = con_disco_lleno(33, [] {
        const QString d = descripcion_de([] { anexar_entero("sincro.txt", QByteArray(80, 'x')); });
        return d.contains("sincro.txt") && d.contains(QString::fromLocal8Bit(strerror(EFBIG))) ? 0
                                                                                               : 1;
    });
    if (estado == kSinSistema)
        GTEST_SKIP() << "no file size limit on this system";
    EXPECT_EQ(estado, 0);
    EXPECT_EQ(CarpetaTemporal::leer("sincro.txt"), QByteArray("linea vieja\r\n"));
    anexar_entero("sincro.txt", "otra\r\n");
    EXPECT_EQ(CarpetaTemporal::leer("sincro.txt"), QByteArray("linea vieja\r\notra\r\n"));
}
