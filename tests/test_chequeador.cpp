#include "clock_link/chequeador.h"
#include "clock_link/enlace_reloj.h"
#include "clock_link/historial.h"
#include "clock_link/metricas.h"
#include "platform/temporizador.h"
#include "simulator/modelo_aparato.h"
#include "tests/apoyo.h"

#include <QDir>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using quarvel::Chequeador;
using quarvel::EstadoChequeo;

namespace {

// The checker's cycle with no window: a fake port, a clock the test moves and
// the display's 100 ms tick driving it, as the window's does.
class Ciclo : public ::testing::Test {
protected:
    Ciclo() {
        hora.fijar(5, 12, 2008, 14, 5, 7);
        // A clock that keeps the PC's time, unless the test says otherwise.
        puerto.al_escribir = [this](const QByteArray& b) {
            if (b != "CX" || callado)
                return;
            const QDateTime t = hora.ahora().addSecs(adelanto_s);
            puerto.recibir(respuesta(t.date().day(), t.date().month(), t.date().year() % 100,
                                     t.time().hour(), t.time().minute(), t.time().second()));
        };
    }

    Chequeador& arrancar(long intervalo = 5,
                         const QString& settings = QStringLiteral("9600,N,8,1")) {
        puerto.setSettings(settings);
        quarvel::BitacoraLecturas::Opciones o;
        o.carpeta_metricas = QDir::current().filePath(QStringLiteral("metricas"));
        o.diario = [this](quarvel::Prioridad, const QString& l) { diario.push_back(l); };
        QDir().mkdir(QStringLiteral("metricas"));
        ciclo = std::make_unique<Chequeador>(
            Chequeador::Entorno{&puerto, &enlace, &hora,
                                [] {
                                    return quarvel::EstadoPc{true, true, 0.0001};
                                },
                                [] { return quarvel::ModoPantalla::FechaYHora; }},
            o);
        ciclo->Timer4->setInterval(100);
        ciclo->configurar(intervalo);
        QObject::connect(ciclo.get(), &Chequeador::fallo,
                         [this](const QString& d) { fallos.push_back(d); });
        QObject::connect(ciclo.get(), &Chequeador::chequeado,
                         [this](const quarvel::ChequeoHecho& h) { hechos.push_back(h); });
        pantalla =
            std::make_unique<quarvel::Temporizador>(QStringLiteral("Timer2"), 100, true, hora);
        pantalla->alinearAlReloj(quarvel::Temporizador::PrimerTick::EnElProximoLimite);
        QObject::connect(pantalla.get(), &quarvel::Temporizador::Timer,
                         [this] { ciclo->tic(pantalla->desvio_us()); });
        ciclo->arrancar(dir.ruta(), QStringLiteral("COM1"));
        return *ciclo;
    }

    // When each read request went out, local time.
    std::vector<QDateTime> lecturas() const {
        std::vector<QDateTime> r;
        for (const auto& e : puerto.eventos)
            if (e.tipo == PuertoFalso::Tipo::Escribir && e.bytes == "CX")
                r.push_back(QDateTime::fromMSecsSinceEpoch(e.t_us / 1000));
        return r;
    }

    QByteArray metrica(const char* nombre) const {
        const QByteArray texto = CarpetaTemporal::leer(QStringLiteral("metricas/") +
                                                       quarvel::nombre_metricas(dir.ruta()));
        for (const QByteArray& l : texto.split('\n'))
            if (l.startsWith(nombre))
                return l.mid(l.lastIndexOf(' ') + 1);
        return "<none>";
    }

    CarpetaTemporal dir;
    RelojVirtual hora;
    PuertoFalso puerto{&hora};
    std::vector<QString> avisos, fallos, diario;
    std::vector<quarvel::ChequeoHecho> hechos;
    quarvel::EnlaceReloj enlace{&puerto, [this](const QString& d) { avisos.push_back(d); }};
    std::unique_ptr<Chequeador> ciclo;
    std::unique_ptr<quarvel::Temporizador> pantalla;
    int adelanto_s = 0;
    bool callado = false;
};

TEST_F(Ciclo, ReadsBackAtSecond31NeverFurtherApartThanTheInterval) {
    for (const long intervalo : {1L, 2L, 5L}) {
        puerto.limpiar();
        hechos.clear();
        arrancar(intervalo);
        hora.avanzar(31 * 60'000);
        const auto t = lecturas();
        ASSERT_GE(t.size(), static_cast<std::size_t>(30 / intervalo)) << intervalo;
        for (std::size_t i = 0; i < t.size(); ++i) {
            EXPECT_EQ(t[i].time().second(), 31) << intervalo << " " << i;
            if (i > 0) {
                // Each inside its second 31: whole minutes apart, give or take it.
                const long minutos = std::lround(t[i - 1].msecsTo(t[i]) / 60'000.0);
                EXPECT_GE(minutos, std::max(1L, intervalo - 1)) << intervalo;
                EXPECT_LE(minutos, intervalo) << intervalo;
            }
        }
        // The start-up set came first, a second after the start.
        EXPECT_TRUE(puerto.escritos().startsWith("D\x05")) << intervalo;
        EXPECT_EQ(hechos.size(), t.size());
        EXPECT_FALSE(QFile::exists("sincro.txt"));
    }
}

TEST_F(Ciclo, AReadAskedForComesAtTheNextSecondClearOfAChangeOfMinute) {
    const struct {
        int segundo;
        int esperado;
    } casos[] = {{5, 10}, {45, 45}, {55, 10}};
    for (const auto& c : casos) {
        diario.clear();
        hora.fijar(5, 12, 2008, 14, 5, 0);
        arrancar(60);
        hora.avanzar(3000); // the start-up set
        hora.avanzar((c.segundo - 3) * 1000);
        puerto.limpiar();
        ciclo->pedir_lectura();
        hora.avanzar(20'000);
        const auto t = lecturas();
        ASSERT_FALSE(t.empty()) << c.segundo;
        EXPECT_EQ(t.front().time().second(), c.esperado) << c.segundo;
        EXPECT_EQ(std::count(diario.begin(), diario.end(), "lectura pedida"), 1);
    }

    // Asked for every 10 s: the read due at second 31 still comes each minute.
    hora.fijar(5, 12, 2008, 14, 5, 0);
    arrancar(1);
    puerto.limpiar();
    for (int i = 0; i < 18; ++i) {
        hora.avanzar(10'000);
        ciclo->pedir_lectura();
    }
    const auto t = lecturas();
    const auto al_31 = std::count_if(t.begin(), t.end(),
                                     [](const QDateTime& l) { return l.time().second() == 31; });
    EXPECT_EQ(al_31, 3);
    EXPECT_GE(t.size(), 3u + 12u);
}

TEST_F(Ciclo, ARequestThatWouldLeaveItsSecondGoesInTheNextOne) {
    // The port opens before the moment is waited for; a program stalled
    // until its second's end writes nothing there, but in the next second,
    // once, and checks as usual, however often it stalls.
    arrancar(1);
    hora.avanzar(40'000);
    puerto.limpiar();
    hechos.clear();
    while (!ciclo->lectura_en_espera() && hora.ahora().time().second() != 32)
        hora.avanzar(10);
    ASSERT_TRUE(ciclo->lectura_en_espera());
    EXPECT_EQ(puerto.cuenta(PuertoFalso::Tipo::Abrir), 1) << "opened before the moment";
    // Stalled to the end of each second that has a read waiting: once is
    // enough, the next second's read goes at its start.
    const qint64 segundo = hora.t_us / 1'000'000;
    for (int i = 0; i < 3 && lecturas().empty(); ++i) {
        const qint64 s = hora.t_us / 1'000'000;
        hora.detener(std::max<qint64>(0, (s + 1) * 1000 - 2 - hora.t_us / 1000));
        hora.avanzar(3);
    }
    hora.avanzar(3'000);
    const auto t = lecturas();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].toMSecsSinceEpoch() / 1000, segundo + 1) << "in the next second";
    EXPECT_LE(t[0].time().msec(), 5) << "at its start";
    EXPECT_EQ(hechos.size(), 1u);
    EXPECT_EQ(puerto.cuenta(PuertoFalso::Tipo::Abrir), 1) << "not opened again";
}

TEST_F(Ciclo, AReplyThatMakesNoTimeIsSaidAsSuchNotAsAReading) {
    // Values all zero (a line flooded with zero bytes): the reply as it came
    // in salida.txt, the mismatch logged and set as ever, but the journal
    // says no time was read, and nothing of the offset.
    puerto.al_escribir = [this](const QByteArray& b) {
        if (b == "CX")
            puerto.recibir(respuesta(0, 0, 0, 0, 0, 0));
    };
    hora.fijar(5, 12, 2008, 14, 4, 50);
    arrancar(1);
    hora.avanzar(45'000);
    ASSERT_EQ(hechos.size(), 1u);
    EXPECT_TRUE(hechos[0].equivocado);
    EXPECT_FALSE(hechos[0].registro.estimacion.valida);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), respuesta(0, 0, 0, 0, 0, 0) + "\r\n");
    EXPECT_EQ(CarpetaTemporal::leer("sincro.txt").count("\r\n"), 1);
    const auto dicho = [this](const char* texto) {
        return std::any_of(diario.begin(), diario.end(),
                           [texto](const QString& l) { return l.contains(texto); });
    };
    EXPECT_TRUE(dicho("respuesta del reloj no válida (14:05:31): no es una fecha y hora"));
    EXPECT_FALSE(dicho("marcaba"));
}

TEST_F(Ciclo, AWrongClockIsLoggedAndSetAgainAfterItsSecond) {
    // Interval 1: due half a minute after the start, read at 14:05:31.
    adelanto_s = -40;
    hora.fijar(5, 12, 2008, 14, 4, 50);
    Chequeador& c = arrancar(1);
    hora.avanzar(3000);
    puerto.limpiar();
    hora.avanzar(39'500);
    ASSERT_EQ(lecturas().size(), 1u);
    EXPECT_EQ(CarpetaTemporal::leer("sincro.txt"),
              QByteArray("fecha reloj : 05/12/2008  fecha prog : 05/12/2008  hora reloj : "
                         "14:04:51  hora prog : 14:05:31\r\n"));
    ASSERT_EQ(hechos.size(), 1u);
    EXPECT_TRUE(hechos[0].equivocado);
    EXPECT_EQ(hechos[0].hora_reloj, "14:04:51");
    EXPECT_EQ(c.estado(), EstadoChequeo::Parado);
    EXPECT_TRUE(c.Timer1->Enabled());
    EXPECT_TRUE(puerto.PortOpen()) << "the read-back leaves the port open";
    puerto.limpiar();
    hora.avanzar(3000);
    // The update: the port reopened, six steps, "C" "W", the mode; then
    // checking again.
    EXPECT_EQ(puerto.eventos.front().tipo, PuertoFalso::Tipo::Cerrar);
    const auto w = puerto.escrituras();
    ASSERT_EQ(w.size(), 8u);
    EXPECT_EQ(w.back(), "CF");
    EXPECT_EQ(c.estado(), EstadoChequeo::Chequeando);
    EXPECT_FALSE(puerto.PortOpen());

    // Still wrong a minute later: a second line.
    hora.avanzar(60'000);
    EXPECT_EQ(CarpetaTemporal::leer("sincro.txt").count("\r\n"), 2);
}

TEST_F(Ciclo, AfterADaylightSavingChangeTheNextReadFindsTheHourAndSetsIt) {
    // Madrid falls back at 03:00 CEST (01:00 UTC) on 25/10/2026. The clock
    // keeps summer time until it is set again: then it takes the PC's.
    if (en_windows())
        GTEST_SKIP() << "zone names in TZ are the C library's on Linux";
    const QByteArray tz_antes = qgetenv("TZ");
    qputenv("TZ", "Europe/Madrid");
    tzset();
    int desfase_s = 7200;
    puerto.al_escribir = [&](const QByteArray& b) {
        if (b == "CW")
            desfase_s = hora.ahora().offsetFromUtc();
        if (b != "CX")
            return;
        const QDateTime t =
            QDateTime::fromMSecsSinceEpoch(hora.t_us / 1000, Qt::OffsetFromUTC, desfase_s);
        puerto.recibir(respuesta(t.date().day(), t.date().month(), t.date().year() % 100,
                                 t.time().hour(), t.time().minute(), t.time().second()));
    };
    hora.fijar(QDateTime(QDate(2026, 10, 25), QTime(0, 20), Qt::UTC));
    arrancar(1);
    hora.avanzar(70 * 60'000);
    const QByteArray sincro = CarpetaTemporal::leer("sincro.txt");
    EXPECT_EQ(sincro.count("\r\n"), 1) << sincro.toStdString();
    // The first read-back after the change, at 02:00:31 winter time.
    EXPECT_TRUE(sincro.contains("hora reloj : 03:00:31  hora prog : 02:00:31"))
        << sincro.toStdString();
    EXPECT_EQ(desfase_s, 3600) << "set again to the PC's winter time";
    if (tz_antes.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", tz_antes);
    tzset();
}

TEST_F(Ciclo, NoReplyWaitsAsLongAsTheLineNeedsThenLogsAMismatch) {
    // At 50 baud a reply takes 3 s to arrive: the wait is as long as the
    // line needs (a pass is about 1 ms), and the reply is read whole.
    const QByteArray lenta = respuesta(5, 12, 8, 14, 5, 33);
    callado = true;
    puerto.al_esperar = [&] {
        if (puerto.esperas == 3000)
            puerto.recibir(lenta);
    };
    arrancar(5, QStringLiteral("50,N,8,1"));
    hora.avanzar(5000);
    ciclo->pedir_lectura();
    hora.avanzar(5000);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), lenta + "\r\n");
    EXPECT_FALSE(QFile::exists("sincro.txt"));

    puerto.al_esperar = nullptr;
    puerto.esperas = 0;
    hechos.clear();
    arrancar(5);
    hora.avanzar(3000);
    puerto.limpiar();
    ciclo->pedir_lectura();
    hora.avanzar(5000);
    EXPECT_EQ(puerto.esperas, 2000);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), QByteArray("\r\n"));
    EXPECT_TRUE(CarpetaTemporal::leer("sincro.txt")
                    .startsWith("fecha reloj : 0/0/0  fecha prog : 05/12/2008"));
    ASSERT_EQ(hechos.size(), 1u);
    EXPECT_FALSE(hechos[0].completa);
    EXPECT_EQ(hechos[0].registro.resultado, quarvel::Resultado::SinRespuesta);
    // Set again: the update follows the read.
    EXPECT_TRUE(puerto.escritos().startsWith("CXD"));
    EXPECT_TRUE(puerto.escritos().endsWith("CWCF"));
}

TEST_F(Ciclo, NoReadBackStartsWhileAnUpdateIsOnItsWay) {
    // Interval 1: a check falls due half a minute on and waits for 14:05:31;
    // a correction is on its way then.
    hora.fijar(5, 12, 2008, 14, 4, 30, 500);
    Chequeador& c = arrancar(1);
    hora.avanzar(59'800);
    ASSERT_TRUE(c.pendiente());
    c.Timer1->setEnabled(true);
    hora.avanzar(3000);
    const QByteArray antes = puerto.escritos();
    EXPECT_FALSE(antes.contains("CX")) << "at second 31 the update was still on its way";
    EXPECT_TRUE(antes.endsWith("CWCF"));
    hora.avanzar(60'000);
    EXPECT_TRUE(puerto.escritos().mid(antes.size()).startsWith("CX"));
}

TEST_F(Ciclo, PararHoldsTheChecksAndInicioResumesThemWithASet) {
    Chequeador& c = arrancar(1);
    hora.avanzar(3000);
    c.parar();
    puerto.limpiar();
    hora.avanzar(10 * 60'000);
    EXPECT_TRUE(puerto.eventos.empty());
    c.inicio();
    hora.avanzar(2 * 60'000);
    EXPECT_TRUE(puerto.escritos().startsWith("D"));
    EXPECT_FALSE(lecturas().empty());
    EXPECT_EQ(c.estado(), EstadoChequeo::Chequeando);
}

TEST_F(Ciclo, OnlyThePortsOwnFailuresCountAsPortErrors) {
    arrancar(5);
    hora.avanzar(3000); // the start-up set, on a port that works
    diario.clear();
    ASSERT_EQ(metrica("quarvel_errores_puerto_total"), "0");
    // The port cannot be opened, and the raw reply cannot be kept either (a
    // folder stands at its name): one port error, one file failure.
    puerto.fallo_apertura = QStringLiteral("no existe");
    QDir().mkdir(QStringLiteral("salida.txt"));
    ciclo->pedir_lectura();
    // Up to the read, not the update it asks for a second later.
    for (int ms = 0; ms < 2000 && hechos.empty(); ++ms)
        hora.avanzar(1);
    EXPECT_EQ(avisos, std::vector<QString>{"no existe"});
    ASSERT_EQ(fallos.size(), 1u);
    EXPECT_TRUE(fallos[0].contains("salida.txt")) << fallos[0].toStdString();
    ASSERT_EQ(hechos.size(), 1u);
    EXPECT_TRUE(hechos[0].error_puerto);
    EXPECT_EQ(metrica("quarvel_errores_puerto_total"), "1");
}

} // namespace

namespace {

TEST_F(Ciclo, AFailingPortIsSaidOnceAnEpisodeAndCountedAtEachExchange) {
    arrancar(1);
    hora.avanzar(3000);
    puerto.fallo_apertura = QStringLiteral("no existe");
    // Minutes of read-backs and the updates each one asks for.
    hora.avanzar(3 * 60'000);
    EXPECT_EQ(avisos, std::vector<QString>{"no existe"});
    EXPECT_GE(metrica("quarvel_errores_puerto_total").toInt(), 4);
    // Working again, then failing again: a new episode, said again.
    puerto.fallo_apertura.clear();
    hora.avanzar(60'000);
    puerto.fallo_apertura = QStringLiteral("no existe");
    hora.avanzar(60'000);
    EXPECT_EQ(avisos.size(), 2u);
}

} // namespace

TEST_F(Ciclo, AFineCorrectionLeavesAClockThatGainsBehind) {
    // A clock 300 ppm fast, kept within 50 ms: the start-up set lands on its
    // second; a fine correction lands its seconds byte late on purpose, up to
    // the threshold, so the clock drifts through zero on the way to the next.
    quarvel::sim::ModeloAparato::Config modelo;
    modelo.deriva = 300e-6;
    modelo.byte_s = 0;
    modelo.latencia_s = 0.012;
    modelo.error_puesta_s = 0.0002;
    quarvel::sim::ModeloAparato aparato(modelo, hora.t_us, 5);
    std::vector<qint64> segundos_us; // when each seconds step was written
    std::vector<double> verdad_ms;   // the clock's offset at each request
    puerto.al_escribir = [&](const QByteArray& b) {
        if (b.size() == 2 && b[0] == 'S') {
            // It holds the second its byte carries from the byte's arrival.
            const qint64 borde = (hora.t_us + 500'000) / 1'000'000 * 1'000'000;
            aparato.puesta(hora.t_us, static_cast<double>(borde - hora.t_us) / 1e6);
            segundos_us.push_back(hora.t_us - borde);
        }
        if (b != "CX")
            return;
        verdad_ms.push_back(aparato.desvio(hora.t_us) * 1e3);
        const QDateTime t = QDateTime::fromSecsSinceEpoch(aparato.responder(hora.t_us));
        puerto.recibir(respuesta(t.date().day(), t.date().month(), t.date().year() % 100,
                                 t.time().hour(), t.time().minute(), t.time().second()));
    };
    arrancar(1).bitacora().fijar_umbral(50);
    hora.avanzar(40 * 60'000);
    ASSERT_GE(segundos_us.size(), 2u) << "the start-up set and a fine correction";
    EXPECT_LE(std::abs(segundos_us[0]), 5'000) << "the start-up set on its second";
    EXPECT_GE(segundos_us[1], 20'000) << "late, so the clock is left behind";
    EXPECT_LE(segundos_us[1], 51'000) << "by the threshold at most";
    // The reads after it find the clock where the set left it, behind, and
    // every bound holds.
    const auto filas = quarvel::leer_historial();
    ASSERT_EQ(filas.size(), verdad_ms.size());
    const auto fina = std::find_if(filas.begin(), filas.end(), [](const auto& f) {
        return f.accion == quarvel::Accion::CorreccionFina;
    });
    ASSERT_NE(fina, filas.end());
    ASSERT_NE(fina + 1, filas.end());
    EXPECT_LT(verdad_ms[static_cast<std::size_t>(fina + 1 - filas.begin())], -10);
    for (std::size_t i = 0; i < filas.size(); ++i) {
        if (filas[i].desvio_ms) {
            EXPECT_NEAR(*filas[i].desvio_ms, verdad_ms[i], *filas[i].cota_ms + 0.1) << i;
        }
    }
}
