#include "clock_link/seguimiento.h"
#include "settings/archivos_config.h"
#include "tests/apoyo.h"

#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

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
        {registro(-3.24, 1.5, 11.5, true), "bien;-3.2;1.5;11.50;0.994;1;ninguna"},
        {registro(0.01, 2, -0.001, false, Resultado::Mal, Accion::Actualizacion),
         "mal;0.0;2.0;0.00;0.000;0;actualizacion"},
        {registro(0, -1, 0, std::nullopt, Resultado::SinRespuesta, Accion::Actualizacion),
         "sin_respuesta;;;;;;actualizacion"},
        {registro(61.5, 3, 200, true, Resultado::Bien, Accion::CorreccionFina),
         "bien;61.5;3.0;200.00;17.280;1;correccion_fina"},
    };
    QByteArray texto = QByteArray(kCabeceraHistorial) + '\n';
    for (const Caso& c : casos) {
        const QByteArray l = linea_historial(c.r);
        // Local time to the millisecond, with its offset.
        EXPECT_TRUE(l.startsWith("2026-12-08T10:05:31.250")) << l.constData();
        EXPECT_TRUE(l.endsWith(c.campos + '\n')) << l.constData();
        texto += l;
    }
    const auto filas = filas_de_historial(texto + "basura;sin;sentido\n");
    ASSERT_EQ(filas.size(), std::size(casos));
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

    // A full disk: the line goes whole or not at all.
    const QByteArray antes = CarpetaTemporal::leer("historial.csv");
    const int estado = en_hijo([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limite{static_cast<rlim_t>(antes.size() + 10),
                            static_cast<rlim_t>(antes.size() + 10)};
        setrlimit(RLIMIT_FSIZE, &limite);
        return descripcion_de([&] {
                   anexar_historial(kArchivoHistorial, l, 1'000'000);
               }).contains("historial.csv")
                   ? 0
                   : 1;
    });
    EXPECT_EQ(estado, 0);
    EXPECT_EQ(CarpetaTemporal::leer("historial.csv"), antes);
}

TEST(Historial, FineThresholdFile) {
    CarpetaTemporal dir;
    EXPECT_EQ(leer_umbral_fino(), std::nullopt) << "absent is off";
    const std::pair<QByteArray, std::optional<int>> buenos[] = {
        {"50\r\n", 50}, {"0\r\n", std::nullopt}, {"", std::nullopt}, {" 120 \r\n", 120}};
    for (const auto& [bytes, umbral] : buenos)
        EXPECT_EQ(umbral_fino_de_bytes(bytes), umbral) << bytes.constData();
    for (const QByteArray malo : {"abc\r\n", "-5\r\n", "2.5\r\n", "99999999\r\n"})
        EXPECT_TRUE(descripcion_de([&] { umbral_fino_de_bytes(malo); }).contains("desactivada"))
            << malo.constData();
    guardar_umbral_fino(75);
    EXPECT_EQ(CarpetaTemporal::leer("qv_fino.ini"), QByteArray("75\r\n"));
    EXPECT_EQ(leer_umbral_fino(), 75);
}

TEST(Historial, FineCorrectionAndDriftInWords) {
    struct Caso {
        double desvio_ms, cota_ms, ppm;
        bool corregir;
    };
    // At 50 ms, a read-back a minute.
    const Caso casos[] = {{20, 5, 0, false},  {60, 5, 0, true},     {48, 5, 0, false},
                          {40, 3, 200, true}, {-40, 3, -200, true}, {-40, 3, 200, false},
                          {0, 200, 0, false}};
    for (const Caso& c : casos) {
        const EstimadorDesvio::Estimacion e{true, c.desvio_ms / 1e3, c.cota_ms / 1e3, c.ppm * 1e-6,
                                            1e-6};
        EXPECT_EQ(corregir_fino(e, 50, 60), c.corregir) << c.desvio_ms << " " << c.ppm;
    }
    EXPECT_FALSE(corregir_fino({}, 50, 60)) << "nothing known, nothing done";
    EXPECT_EQ(deriva_en_palabras(9.26e-6, 1e-7), QStringLiteral("adelanta 0,8 s al día"));
    EXPECT_EQ(deriva_en_palabras(-200e-6, 1e-6), QStringLiteral("atrasa 17 s al día"));
    EXPECT_TRUE(deriva_en_palabras(1e-6, 5e-6).contains("incierta"));
}
