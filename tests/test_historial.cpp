#include "clock_link/historial.h"
#include "tests/apoyo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace quarvel;

namespace {

Registro registro(double desvio_ms, double cota_ms, double ppm, std::optional<bool> pc,
                  Resultado res = Resultado::Bien, Accion acc = Accion::Ninguna) {
    Registro r;
    r.t_us = QDateTime(QDate(2026, 12, 8), QTime(10, 5, 31, 250)).toMSecsSinceEpoch() * 1000;
    r.resultado = res;
    r.accion = acc;
    r.pc_sincronizado = pc;
    if (cota_ms >= 0)
        r.estimacion = {true, desvio_ms / 1e3, cota_ms / 1e3, ppm * 1e-6, 1e-6};
    return r;
}

} // namespace

TEST(Historial, LinesKeepTheirFieldsAndReadBack) {
    struct Caso {
        Registro r;
        QByteArray campos; // after the time
    };
    const Caso casos[] = {
        {registro(-3.24, 1.5, 11.5, true), "bien;-3.2;1.5;11.50;0.994;1;ninguna;1.00"},
        {registro(0.01, 2, -0.001, false, Resultado::Mal, Accion::Actualizacion),
         "mal;0.0;2.0;0.00;0.000;0;actualizacion;1.00"},
        {registro(0, -1, 0, std::nullopt, Resultado::SinRespuesta, Accion::Actualizacion),
         "sin_respuesta;;;;;;actualizacion;"},
        {registro(61.5, 3, 200, true, Resultado::Bien, Accion::CorreccionFina),
         "bien;61.5;3.0;200.00;17.280;1;correccion_fina;1.00"},
    };
    QByteArray texto = QByteArray(kCabeceraHistorial) + '\n';
    for (const Caso& c : casos) {
        const QByteArray l = linea_historial(c.r);
        // Local time to the millisecond, with its offset.
        EXPECT_TRUE(l.startsWith("2026-12-08T10:05:31.250")) << l.constData();
        EXPECT_TRUE(l.endsWith(c.campos + '\n')) << l.constData();
        texto += l;
    }
    // A line of a file written before the drift's bound was kept still reads.
    const auto filas = filas_de_historial(
        texto +
        "basura;sin;sentido\n2026-12-08T10:06:31.250+01:00;bien;1.0;2.0;3.00;0.259;1;ninguna\n");
    ASSERT_EQ(filas.size(), std::size(casos) + 1);
    EXPECT_DOUBLE_EQ(*filas[4].deriva_ppm, 3);
    EXPECT_FALSE(filas[4].cota_deriva_ppm.has_value());
    EXPECT_DOUBLE_EQ(*filas[0].cota_deriva_ppm, 1);
    EXPECT_EQ(filas[0].t_ms, casos[0].r.t_us / 1000);
    EXPECT_DOUBLE_EQ(*filas[3].desvio_ms, 61.5);
    EXPECT_FALSE(filas[2].desvio_ms.has_value());
    EXPECT_EQ(filas[2].resultado, Resultado::SinRespuesta);
    EXPECT_EQ(filas[3].accion, Accion::CorreccionFina);
    EXPECT_EQ(filas[1].pc_sincronizado, std::optional<bool>(false));
}

TEST(Historial, AppendsWholeUnderItsHeaderAndMovesAsideWhenFull) {
    CarpetaTemporal dir;
    const QByteArray l = linea_historial(registro(1, 1, 1, true));
    anexar_historial(kArchivoHistorial, l, 400);
    anexar_historial(kArchivoHistorial, l, 400);
    EXPECT_EQ(CarpetaTemporal::leer("historial.csv"),
              QByteArray(kCabeceraHistorial) + '\n' + l + l);
    // Past the size the file moves aside, and the new one has its header.
    for (int i = 0; i < 5; ++i)
        anexar_historial(kArchivoHistorial, l, 400);
    EXPECT_TRUE(QFile::exists("historial.csv.1"));
    EXPECT_TRUE(CarpetaTemporal::leer("historial.csv").startsWith(kCabeceraHistorial));
    EXPECT_EQ(leer_historial().size(), 7u);

    // Something else at the aside name: the file grows on, and says why.
    ASSERT_TRUE(QFile::remove("historial.csv.1") && QDir().mkdir("historial.csv.1"));
    const auto filas = [] { return filas_de_historial(CarpetaTemporal::leer("historial.csv")); };
    const std::size_t n = filas().size();
    QString aviso;
    for (int i = 0; i < 5; ++i)
        aviso = anexar_historial(kArchivoHistorial, l, 400);
    EXPECT_TRUE(aviso.contains("historial.csv.1")) << aviso.toStdString();
    EXPECT_EQ(filas().size(), n + 5);
    QDir().rmdir("historial.csv.1");

    // A full disk: the line goes whole or not at all.
    const QByteArray antes = CarpetaTemporal::leer("historial.csv");
    const int estado = con_disco_lleno(antes.size() + 10, [&] {
        return descripcion_de([&] {
                   anexar_historial(kArchivoHistorial, l, 1'000'000);
               }).contains("historial.csv")
                   ? 0
                   : 1;
    });
    if (estado == kSinSistema)
        GTEST_SKIP() << "no file size limit on this system";
    EXPECT_EQ(estado, 0);
    EXPECT_EQ(CarpetaTemporal::leer("historial.csv"), antes);
}

TEST(Historial, ARowStartsItsOwnLineAndOnlyARegularFileTakesIt) {
    CarpetaTemporal dir;
    const QByteArray l = linea_historial(registro(1, 1, 1, true));
    // A last line cut short keeps its row; the new one is not glued on.
    CarpetaTemporal::escribir("historial.csv",
                              QByteArray(kCabeceraHistorial) + '\n' + l.chopped(1));
    anexar_historial(kArchivoHistorial, l);
    EXPECT_EQ(CarpetaTemporal::leer("historial.csv"),
              QByteArray(kCabeceraHistorial) + '\n' + l.chopped(1) + '\n' + l);
    EXPECT_EQ(leer_historial().size(), 2u);

    // A folder, or a link to a device, at the name: refused, named.
    ASSERT_TRUE(QFile::remove("historial.csv") && QDir().mkdir("historial.csv"));
    EXPECT_TRUE(descripcion_de([&] {
                    anexar_historial(kArchivoHistorial, l);
                }).contains("no es un archivo normal"));
    QDir().rmdir("historial.csv");
    if (!en_windows() && QFile::link("/dev/zero", "historial.csv")) {
        EXPECT_TRUE(
            descripcion_de([&] { anexar_historial(kArchivoHistorial, l); }).contains("/dev/zero"));
    }
}
