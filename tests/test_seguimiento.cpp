#include "clock_link/bitacora.h"
#include "clock_link/historial.h"
#include "clock_link/palabras.h"
#include "clock_link/seguimiento.h"
#include "settings/archivos_config.h"
#include "simulator/modelo_aparato.h"
#include "tests/apoyo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace quarvel;

namespace {

// A read-back that answered, with its estimate when `cota_ms` is not negative.
Registro registro(double desvio_ms, double cota_ms, double ppm, std::optional<bool> pc) {
    Registro r;
    r.pc_sincronizado = pc;
    if (cota_ms >= 0)
        r.estimacion = {true, desvio_ms / 1e3, cota_ms / 1e3, ppm * 1e-6, 1e-6};
    return r;
}

} // namespace

TEST(CorreccionFina, ThresholdFile) {
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

TEST(CorreccionFina, OnlyWhenBeyondTheThresholdAndSurelyBeyondHalfOfIt) {
    struct Caso {
        double desvio_ms, cota_ms, ppm;
        bool corregir;
    };
    // At 50 ms, a read-back a minute: beyond it by the estimate and beyond
    // 25 ms by more than the bound, now or by the next read-back.
    const Caso casos[] = {{20, 5, 0, false},    {60, 5, 0, true},     {48, 5, 0, false},
                          {60, 40, 0, false},   {80, 40, 0, true},    {-80, 40, 0, true},
                          {42, 3, 200, true},   {-42, 3, -200, true}, {30, 3, 200, false},
                          {-40, 3, 200, false}, {40, 30, 200, false}, {0, 200, 0, false}};
    for (const Caso& c : casos) {
        const EstimadorDesvio::Estimacion e{true, c.desvio_ms / 1e3, c.cota_ms / 1e3, c.ppm * 1e-6,
                                            1e-6};
        EXPECT_EQ(corregir_fino(e, 50, 60), c.corregir) << c.desvio_ms << " " << c.ppm;
    }
    EXPECT_FALSE(corregir_fino({}, 50, 60)) << "nothing known, nothing done";
}

TEST(Palabras, DriftAndOffset) {
    // Said as a figure once its bound is within a fifth of it or 1 s a day.
    const std::pair<std::pair<double, double>, const char*> derivas[] = {
        {{9.26e-6, 1e-7}, "El reloj adelanta 0,8 s al día"},
        {{-200e-6, 1e-6}, "El reloj atrasa 17 s al día"},
        {{-80e-6, 100e-6}, "La deriva del reloj es aún incierta (±8,6 s al día)"},
        {{-216e-6, 50e-6}, "La deriva del reloj es aún incierta (±4,3 s al día)"},
        {{1e-6, 10e-6}, "El reloj adelanta 0,1 s al día"},
    };
    for (const auto& [d, texto] : derivas)
        EXPECT_EQ(frase_deriva(d.first, d.second), QString::fromUtf8(texto)) << texto;
    const QString conocido = resumen_breve(registro(-1.44, 18.4, 10, true), "07:35:31");
    EXPECT_TRUE(conocido.startsWith(QStringLiteral("07:35:31 en hora: desvío -1,4 ms (±18,4 ms)")))
        << conocido.toStdString();
    // A second or more, in seconds: never "22.858 ms".
    EXPECT_TRUE(resumen_breve(registro(-22858, 22892, 10, true), "07:35:31")
                    .startsWith(QStringLiteral("07:35:31 en hora: desvío -22,9 s (±22,9 s)")));
    EXPECT_TRUE(resumen_breve(registro(400, 1500, 10, true), "07:35:31")
                    .startsWith(QStringLiteral("07:35:31 en hora: desvío +0,40 s (±1,50 s)")));
    // Surely a second or more off, though in its minute: not "en hora".
    EXPECT_TRUE(resumen_breve(registro(15000, 100, 10, true), "07:35:31")
                    .startsWith(QStringLiteral("07:35:31 desviado: desvío +15,0 s (±0,1 s)")));
    EXPECT_TRUE(resumen_breve(registro(-1500, 600, 10, true), "07:35:31")
                    .startsWith(QStringLiteral("07:35:31 en hora: desvío -1,50 s (±0,60 s)")));
    const QString desconocido = resumen_breve(registro(0, -1, 0, false), "07:35:31");
    EXPECT_EQ(desconocido,
              QStringLiteral("07:35:31 en hora: desvío desconocido\nPC sin sincronizar"));
    auto no_tomada = registro(-1.44, 18.4, 10, true);
    no_tomada.suceso = EstimadorVentana::Suceso::PuestaNoTomada;
    EXPECT_TRUE(resumen_breve(no_tomada, "07:35:31")
                    .section(QLatin1Char('\n'), 1)
                    .endsWith(QStringLiteral("; la puesta en hora no se tomó")));
    EXPECT_TRUE(resumen_de_registro(no_tomada).endsWith("; la puesta en hora no se tomó"));
}

TEST(Bitacora, ASilentClockIsUnknownEverywhereAndALinkIsNotFollowed) {
    CarpetaTemporal dir;
    QDir().mkdir("metricas");
    QList<QByteArray> lineas;
    BitacoraLecturas::Opciones op;
    op.carpeta_metricas = "metricas";
    op.diario = [&](Prioridad p, const QString& t) {
        lineas.push_back("<" + QByteArray::number(static_cast<int>(p)) + ">" + t.toUtf8());
    };
    BitacoraLecturas b(op);
    // Another user planted a link at the metrics file's name.
    CarpetaTemporal::escribir("victima", "no tocar");
    const QString prom = "metricas/" + nombre_metricas(QDir::currentPath());
    ASSERT_TRUE(QFile::link(QDir::current().filePath("victima"), prom));
    const qint64 inicio = QDateTime(QDate(2026, 12, 8), QTime(10, 0)).toMSecsSinceEpoch() * 1000;
    b.inicio(inicio, QDir::currentPath(), "COM1");
    b.puesta(inicio + 2'000'000);
    EXPECT_EQ(CarpetaTemporal::leer("victima"), QByteArray("no tocar"));
    EXPECT_FALSE(QFileInfo(prom).isSymLink());
    // The start stands for the last answer, so a clock silent from the start
    // alerts.
    EXPECT_TRUE(CarpetaTemporal::leer(prom).contains(
        "quarvel_ultima_respuesta_timestamp_segundos{carpeta=\"" + QDir::currentPath().toUtf8() +
        "\",puerto=\"COM1\"} " + QByteArray::number(inicio / 1'000'000)));

    LecturaHecha l;
    l.t_us = inicio + 91'000'000;
    l.hora = "10:01:31";
    l.equivocado = true;
    const Registro r = b.lectura(l, 1);
    EXPECT_EQ(r.resultado, Resultado::SinRespuesta);
    EXPECT_FALSE(r.estimacion.valida) << "a set never answered is not known to have landed";
    const auto filas = leer_historial();
    ASSERT_EQ(filas.size(), 1u);
    EXPECT_FALSE(filas[0].desvio_ms || filas[0].cota_ms || filas[0].deriva_ppm ||
                 filas[0].cota_deriva_ppm);
    const QByteArray m = CarpetaTemporal::leer(prom);
    EXPECT_FALSE(m.contains("quarvel_reloj_desvio_segundos{")) << m.constData();
    EXPECT_TRUE(m.contains("quarvel_reloj_estimacion_valida{carpeta"));
    EXPECT_TRUE(m.contains("} 0\n# HELP quarvel_ultima_lectura_timestamp"));
    ASSERT_FALSE(lineas.isEmpty());
    EXPECT_TRUE(lineas.back().startsWith("<4>el reloj no contesta (10:01:31)"));

    // Fine correction waits on the PC's sync state, and says which it lacks.
    b.fijar_umbral(50);
    EXPECT_EQ(b.estado_fino(), EstadoFino::PcSinEstado);
    l.t_us += 60'000'000;
    l.pc = EstadoPc{true, false, 0};
    b.lectura(l, 1);
    EXPECT_EQ(b.estado_fino(), EstadoFino::PcSinSincronizar);
}

TEST(Bitacora, AHistoryFaultIsSaidOnceUntilItIsWrittenAgain) {
    CarpetaTemporal dir;
    QStringList fallos, diario;
    BitacoraLecturas::Opciones op;
    op.diario = [&](Prioridad, const QString& t) { diario << t; };
    op.fallo = [&](const QString& d) { fallos << d; };
    BitacoraLecturas b(op);
    LecturaHecha l;
    l.t_us = QDateTime(QDate(2026, 12, 8), QTime(10, 0)).toMSecsSinceEpoch() * 1000;
    l.hora = "10:00:31";
    ASSERT_TRUE(QDir().mkdir(kArchivoHistorial));
    for (int i = 0; i < 3; ++i, l.t_us += 60'000'000)
        b.lectura(l, 1);
    ASSERT_EQ(fallos.size(), 1);
    EXPECT_TRUE(fallos[0].contains("no es un archivo normal"));
    // Written again: said, and a new fault is said once more.
    QDir().rmdir(kArchivoHistorial);
    b.lectura(l, 1);
    EXPECT_TRUE(diario.contains("historial.csv se escribe de nuevo como debe"));
    ASSERT_TRUE(QFile::remove(kArchivoHistorial) && QDir().mkdir(kArchivoHistorial));
    b.lectura(l, 1);
    EXPECT_EQ(fallos.size(), 2);
}

TEST(Bitacora, AClockSecondsOffInItsMinuteIsWarnedOnceNotSaidOnTime) {
    // 15 s ahead: the designed comparison, by the minute, finds it right at
    // second 31; once the reads know it is seconds off, the journal warns
    // once, then says it as it is, and never "en hora".
    CarpetaTemporal dir;
    QStringList lineas;
    BitacoraLecturas::Opciones op;
    op.diario = [&](Prioridad p, const QString& t) {
        lineas.push_back(QStringLiteral("<%1>").arg(static_cast<int>(p)) + t);
    };
    BitacoraLecturas b(op);
    const qint64 inicio = QDateTime(QDate(2026, 12, 8), QTime(10, 0)).toMSecsSinceEpoch() * 1000;
    quarvel::sim::ModeloAparato::Config c;
    c.desvio_s = 15.3;
    c.latencia_s = 0.012;
    quarvel::sim::ModeloAparato a(c, inicio, 5);
    b.inicio(inicio, QDir::currentPath(), "COM1");
    for (int n = 1; n <= 15; ++n) {
        const qint64 t = b.momento_de_lectura(inicio + n * 60'000'000LL + 31'005'000);
        std::int64_t llegada = 0;
        const QDateTime r = QDateTime::fromSecsSinceEpoch(a.responder(t, &llegada));
        LecturaHecha l;
        l.t_us = t;
        l.llegada_us = llegada;
        l.reloj = {r.date().day(),  r.date().month(),  r.date().year() % 100,
                   r.time().hour(), r.time().minute(), r.time().second()};
        l.completa = true;
        l.equivocado = r.toSecsSinceEpoch() / 60 != t / 60'000'000;
        l.pc = {true, true, 0.0001};
        l.hora = QDateTime::fromMSecsSinceEpoch(t / 1000).toString("HH:mm:ss");
        ASSERT_FALSE(l.equivocado) << n;
        b.lectura(l, 1);
    }
    EXPECT_EQ(lineas.filter(QStringLiteral("<4>reloj desviado (")).size(), 1)
        << lineas.join('\n').toStdString();
    EXPECT_GE(lineas.filter(QStringLiteral("<6>reloj desviado (")).size(), 5);
    const auto primera = lineas.indexOf(QRegularExpression(QStringLiteral("^<4>reloj desviado")));
    EXPECT_TRUE(lineas.mid(primera).filter(QStringLiteral("reloj en hora")).isEmpty());
}
