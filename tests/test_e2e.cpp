// The real programs and windows against the clock simulator on a real
// pseudo-terminal.
#include "clock_link/historial.h"
#include "clock_link/puerto_serie_qt.h"
#include "main_window/programa.h"
#include "platform/temporizador.h"
#include "simulator/control/simulador_proceso.h"
#include "tests/ventanas.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QProcess>
#include <QSysInfo>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <iterator>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using quarvel::ComandoRecibido;
using quarvel::SimuladorProceso;

namespace {

std::vector<ComandoRecibido> sin_errores(const std::vector<ComandoRecibido>& v) {
    std::vector<ComandoRecibido> r;
    for (const auto& c : v)
        if (c.cmd != "error")
            r.push_back(c);
    return r;
}

QStringList nombres(const std::vector<ComandoRecibido>& v) {
    QStringList r;
    for (const auto& c : v)
        r << (c.valor >= 0 ? QStringLiteral("%1 %2").arg(c.cmd).arg(c.valor) : c.cmd);
    return r;
}

// The clock minus the PC, in ms, right after the last seconds byte arrived.
double desvio_al_segundo(const std::vector<ComandoRecibido>& v) {
    for (auto it = v.rbegin(); it != v.rend(); ++it)
        if (it->cmd == "S")
            return static_cast<double>(it->aparato.toMSecsSinceEpoch()) -
                   static_cast<double>(it->t_us) / 1000.0;
    return 1e9;
}

// Generous: a loaded machine; the benchmark carries the real figures.
constexpr double kDesvioMaximoMs = 150;

class ExtremoAExtremo : public ::testing::Test {
protected:
    void SetUp() override {
        CarpetaTemporal::escribir("qv.ini", quarvel::contenido_qv_ini(1, "9600,N,8,1", 100));
        CarpetaTemporal::escribir("qv_int.ini", "1\r\n");
    }
    // Seconds from the PC's clock to `momento`: the simulator's offset that
    // puts the clock there now.
    static QString hasta(const QDateTime& momento) {
        return QString::number(
            static_cast<double>(QDateTime::currentDateTime().msecsTo(momento)) / 1000.0, 'f', 3);
    }
    CarpetaTemporal dir;
    SimuladorProceso simulador{quarvel::ruta_simulador(), dir.ruta()};
};

} // namespace

TEST_F(ExtremoAExtremo, CheckerProgramSetsAWrongClockRightAtStart) {
    // Two minutes slow, its seconds within a second of the PC's. A clock
    // whose own minute changed between the minute and the seconds steps would
    // be carried a minute wrong, and set right at the next read-back.
    ASSERT_TRUE(simulador.iniciar({"--offset", "-120.3"}));
    QProcess checker;
    checker.setWorkingDirectory(dir.ruta());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    checker.setProcessEnvironment(env);
    QElapsedTimer reloj;
    reloj.start();
    checker.start(QStringLiteral(QUARVEL_CHECKER), {});
    ASSERT_TRUE(checker.waitForStarted(5000));
    const bool completo = simulador.esperarComando("CF", 1, 10000);
    const qint64 tardanza = reloj.elapsed();
    checker.terminate();
    checker.waitForFinished(3000);
    ASSERT_TRUE(completo);
    // A second after start, then less than a second to its moment (a few
    // more near a change of minute), then the eight steps of 100 ms.
    EXPECT_LT(tardanza, 9000);

    // A set whose step ran late on a loaded machine starts over: the last
    // one is whole, its steps apart by about their delay.
    auto c = sin_errores(simulador.comandos());
    const auto ultima =
        std::find_if(c.rbegin(), c.rend(), [](const auto& x) { return x.cmd == "D"; });
    ASSERT_NE(ultima, c.rend());
    c.erase(c.begin(), std::prev(ultima.base()));
    QStringList letras;
    for (const auto& x : c)
        letras << x.cmd;
    ASSERT_EQ(letras, (QStringList{"D", "M", "Y", "H", "m", "S", "CW", "CF"}));
    for (std::size_t i = 1; i < c.size(); ++i) {
        const double ms = static_cast<double>(c[i].t_us - c[i - 1].t_us) / 1000.0;
        EXPECT_GT(ms, 20) << i;
        EXPECT_LT(ms, 1000) << i;
    }
    // The two minutes are gone: the clock starts its second with the PC's.
    EXPECT_NEAR(desvio_al_segundo(c), 0, kDesvioMaximoMs);
}

TEST_F(ExtremoAExtremo, SenderInicioSetsTheClockOnTheSecond) {
    ASSERT_TRUE(simulador.iniciar({"--offset", "3600.4"}));
    quarvel::PuertoSerieQt puerto;
    quarvel::HoraDelSistema hora;
    CajaFalsa caja;
    auto f = sender_quieto(puerto, hora, caja);
    f->Command1_Click();
    // Generous: on a loaded machine a set whose step ran late starts over.
    ASSERT_TRUE(simulador.esperarComando("CF", 1, 15000));
    f->Command2_Click();
    EXPECT_NEAR(desvio_al_segundo(simulador.comandos()), 0, kDesvioMaximoMs);
}

namespace {

// The checker window on the real port, with a clock the test sets.
class CheckerReal : public ExtremoAExtremo {
protected:
    quarvel430::Form1& cargar() {
        form = checker_quieto(puerto, hora, caja);
        return *form;
    }
    void chequear(const QDateTime& en) {
        QElapsedTimer t;
        t.start();
        ::chequear(*form, hora, en);
        duracion_ms = t.elapsed();
    }
    // When the read-back runs; the simulator is put at that minute.
    const QDateTime momento = QDateTime(QDate(2026, 12, 5), QTime(14, 5, 31));
    quarvel::PuertoSerieQt puerto;
    RelojVirtual hora;
    CajaFalsa caja;
    std::unique_ptr<quarvel430::Form1> form;
    qint64 duracion_ms = 0;
};

} // namespace

TEST_F(CheckerReal, RightClockLogsNothing) {
    // A minute of 53 and the year 2053 (the code of "S") are values, not the
    // reply's end; 2060 and later are this century too.
    const QDateTime casos[] = {momento, QDateTime(momento.date(), QTime(14, 53, 31)),
                               QDateTime(QDate(2053, 3, 1), QTime(0, 53, 31)),
                               QDateTime(QDate(2060, 1, 1), QTime(0, 5, 31))};
    for (const QDateTime& en : casos) {
        const std::string que = en.toString(Qt::ISODate).toStdString();
        simulador.detener();
        ASSERT_TRUE(simulador.iniciar({"--offset", hasta(en)}));
        cargar();
        chequear(en);
        EXPECT_FALSE(QFile::exists("sincro.txt")) << que;
        EXPECT_EQ(form->chequeador().estado(), quarvel::EstadoChequeo::Chequeando) << que;
        // Ended by the reply, not by the bounded wait of seconds.
        EXPECT_LT(duracion_ms, 1500) << que;
        EXPECT_TRUE(respuesta_entera(CarpetaTemporal::leer("salida.txt"))) << que;
    }
    // The update carries the year 2060 as packed decimal 0x60, which the
    // clock takes.
    form->Timer1_Timer();
    hora.avanzar(4000);
    ASSERT_TRUE(simulador.esperarComando("CF", 1, 2000));
    EXPECT_TRUE(nombres(simulador.comandos()).contains("Y 60"));
}

TEST_F(CheckerReal, WrongClockIsLoggedThenUpdated) {
    ASSERT_TRUE(simulador.iniciar({"--offset", hasta(momento.addDays(-1))}));
    auto& f = cargar();
    chequear(momento);
    EXPECT_TRUE(CarpetaTemporal::leer("sincro.txt")
                    .startsWith("fecha reloj : 04/12/2026  fecha prog : 05/12/2026"))
        << CarpetaTemporal::leer("sincro.txt").toStdString();
    EXPECT_TRUE(f.Timer1->Enabled());
    hora.avanzar(3000);
    EXPECT_TRUE(simulador.esperarComando("CF", 1, 2000));
    EXPECT_EQ(nombres(sin_errores(simulador.comandos())),
              (QStringList{"CX", "D 5", "M 12", "Y 26", "H 14", "m 5", "S 33", "CW", "CF"}));
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
    EXPECT_FALSE(puerto.PortOpen());
}

TEST_F(ExtremoAExtremo, CheckerFollowsADriftingClockWithAnHonestBound) {
    // A clock that gains 700 ppm and is read 250 ms after a request arrives,
    // neither known to the checker, both beyond what it once assumed.
    ASSERT_TRUE(simulador.iniciar({"--drift-ppm", "700", "--sample-ms", "250"}));
    quarvel::PuertoSerieQt puerto;
    quarvel::HoraDelSistema hora;
    CajaFalsa caja;
    auto f = checker_quieto(puerto, hora, caja);
    f->Timer2->setEnabled(true); // the display runs: checks compare with it
    f->Timer1_Timer();
    ASSERT_TRUE(simulador.esperarComando("CF", 1, 8000));
    // Read-backs one after another, each from the start of a second, none
    // where the display may still show the minute before.
    const int lecturas = 4;
    for (int i = 1; i <= lecturas; ++i) {
        qint64 siguiente = (hora.ahora_us() / 1'000'000 + 1) * 1'000'000;
        if (const auto s = siguiente / 1'000'000 % 60; s == 59 || s == 0)
            siguiente += 2'000'000;
        esperar_eventos(static_cast<int>((siguiente - hora.ahora_us()) / 1000) + 2);
        f->iniciar_chequeo();
        ASSERT_TRUE(simulador.esperarComando("CX", i, 3000))
            << f->chequeador().lectura_en_espera() << " " << f->Label8->text().toStdString() << " "
            << nombres(simulador.comandos()).join(QLatin1Char(',')).toStdString();
        esperar_eventos(50);
    }
    const auto filas = quarvel::leer_historial();
    const auto cx = simulador.comandos();
    std::vector<quarvel::ComandoRecibido> leidas;
    std::copy_if(cx.begin(), cx.end(), std::back_inserter(leidas),
                 [](const auto& c) { return c.cmd == "CX"; });
    ASSERT_EQ(filas.size(), static_cast<std::size_t>(lecturas));
    ASSERT_EQ(leidas.size(), static_cast<std::size_t>(lecturas));
    int conocidas = 0;
    for (int i = 0; i < lecturas; ++i) {
        const auto& fila = filas[static_cast<std::size_t>(i)];
        const auto& c = leidas[static_cast<std::size_t>(i)];
        // Every row holds the truth, or says it does not know it.
        EXPECT_EQ(fila.desvio_ms.has_value(), fila.cota_ms.has_value()) << i;
        if (!fila.desvio_ms)
            continue;
        ++conocidas;
        // The clock's offset when the request arrived, by the simulator (its
        // log keeps milliseconds).
        const double verdad = static_cast<double>(c.aparato.toMSecsSinceEpoch()) -
                              static_cast<double>(c.t_us) / 1000.0;
        EXPECT_LE(std::abs(*fila.desvio_ms - verdad), *fila.cota_ms + 1.5)
            << i << ": " << *fila.desvio_ms << " +- " << *fila.cota_ms << " vs " << verdad;
    }
    EXPECT_GE(conocidas, lecturas - 1) << "only a contradiction leaves a row unknown";
    EXPECT_TRUE(f->Label9->text().contains("desvío")) << f->Label9->text().toStdString();
}

TEST_F(CheckerReal, NoReplyEndsAfterTheBoundedWait) {
    ASSERT_TRUE(simulador.iniciar({"--no-reply"}));
    cargar();
    chequear(momento);
    EXPECT_GT(duracion_ms, 1500);
    // Bounded: 2000 passes, each about a millisecond, more on a busy machine.
    EXPECT_LT(duracion_ms, 30'000);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), QByteArray("\r\n"));
    EXPECT_TRUE(CarpetaTemporal::leer("sincro.txt").startsWith("fecha reloj : 0/0/0"));
}

TEST_F(ExtremoAExtremo, SenderPutsTheExactBytesOnTheLine) {
    ASSERT_TRUE(simulador.iniciar());
    CarpetaTemporal::escribir("qv.ini", quarvel::contenido_qv_ini(1, "9600,N,8,1", 20));
    quarvel::PuertoSerieQt puerto;
    RelojVirtual hora;
    CajaFalsa caja;
    auto f = sender_quieto(puerto, hora, caja);
    f->Command4_Click();
    hora.avanzar(2000);
    ASSERT_TRUE(simulador.esperarComando("CF", 1, 3000));
    hora.fijar(5, 12, 2026, 19, 33, 59);
    f->Check1->setChecked(true);
    f->Command1_Click();
    hora.avanzar(4000);
    ASSERT_TRUE(simulador.esperarComando("CH", 1, 3000));
    f->Command2_Click();
    EXPECT_EQ(nombres(simulador.comandos()),
              (QStringList{"D 5", "M 12", "Y 26", "H 19", "m 33", "S 44", "CW", "CF", "D 5", "M 12",
                           "Y 26", "H 19", "m 34", "S 2", "CW", "CH"}));
    EXPECT_EQ(simulador.comandos().back().aparato.toString("dd/MM/yyyy HH:mm"), "05/12/2026 19:34");
}

namespace {

// A program started in the test's folder on Qt's offscreen platform.
class Programa {
public:
    explicit Programa(const char* binario, QProcessEnvironment env = entorno())
        : binario_(QString::fromLatin1(binario)) {
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QDir::currentPath());
    }
    static QProcessEnvironment entorno() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    // Runs it to its end.
    int correr(const QStringList& args = {}) {
        p.start(binario_, args);
        p.waitForFinished(10000);
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QProcess p;

private:
    QString binario_;
};

// Whether process `pid` has its own SIGTERM handler, within 10 s: before,
// a SIGTERM would kill it outright.
bool atiende_sigterm(qint64 pid) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10'000) {
        QFile estado(QStringLiteral("/proc/%1/status").arg(pid));
        if (estado.open(QIODevice::ReadOnly)) {
            for (const QByteArray& l : estado.readAll().split('\n'))
                if (l.startsWith("SigCgt:") &&
                    (l.mid(7).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0)
                    return true;
        }
        esperar_eventos(20);
    }
    return false;
}

} // namespace

TEST(LineaDeOrdenes, HelpAndVersionNeedNoDisplayAndNoDisplayIsOneLine) {
    QProcessEnvironment sin_pantalla = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        sin_pantalla.remove(v);
    sin_pantalla.insert("XDG_RUNTIME_DIR", "/nonexistent");
    for (const auto& [binario, nombre] :
         {std::pair{QUARVEL_SENDER, "Quarvel38"}, {QUARVEL_CHECKER, "Quarvel430"}}) {
        Programa version(binario, sin_pantalla);
        EXPECT_EQ(version.correr({"--version"}), 0) << nombre;
        EXPECT_EQ(version.p.readAllStandardOutput(), QByteArray(nombre) + " 1.0.0\n");
        Programa ayuda(binario, sin_pantalla);
        EXPECT_EQ(ayuda.correr({"--help"}), 0) << nombre;
        const QByteArray texto = ayuda.p.readAllStandardOutput();
        EXPECT_TRUE(texto.startsWith(QByteArray("Uso: ") + nombre));
        EXPECT_FALSE(texto.contains("help-all"));
        // All of it in Spanish, Qt's own words too.
        for (const char* ingles : {"Usage", "Options:", "Displays", "version information"})
            EXPECT_FALSE(texto.contains(ingles)) << ingles;
        if (QByteArray(nombre) == "Quarvel430") {
            // A clock's folder cannot be the shared metrics folder.
            CarpetaTemporal dir;
            Programa misma(binario, sin_pantalla);
            EXPECT_EQ(misma.correr({"--sin-ventana", "--metricas", "."}), 2);
            EXPECT_TRUE(
                misma.p.readAllStandardError().startsWith("<3>Quarvel430: la carpeta de las"));
        }
        Programa sin(binario, sin_pantalla);
        EXPECT_EQ(sin.correr(), 1) << nombre;
        EXPECT_EQ(sin.p.readAllStandardError().count('\n'), 1) << nombre;
        // What it does not know is named, with or without a display.
        for (const QProcessEnvironment& entorno : {sin_pantalla, Programa::entorno()}) {
            for (const char* arg : {"--desconocida", "sobrante"}) {
                Programa mal(binario, entorno);
                EXPECT_EQ(mal.correr({arg}), 2) << nombre << arg;
                const QByteArray error = mal.p.readAllStandardError();
                EXPECT_EQ(error.count('\n'), 1) << error.toStdString();
                EXPECT_TRUE(error.contains(QByteArray(arg).replace("--", ""))) << arg;
                EXPECT_FALSE(error.contains("Unknown")) << error.toStdString();
            }
        }
    }
}

TEST(InstanciaUnica, OnlyItsUserReachesItAndIdleConnectionsNeverShutIt) {
    CarpetaTemporal dir;
    quarvel::InstanciaUnica primera(QStringLiteral("QuarvelPrueba"));
    ASSERT_FALSE(primera.otraEnMarcha());
    const QString ruta = primera.servidor();
    ASSERT_FALSE(ruta.isEmpty());
    const QFileInfo socket(ruta);
    const QFileInfo carpeta(socket.absolutePath());
    const auto ajenos = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                        QFileDevice::WriteOther;
    EXPECT_TRUE(!(socket.permissions() & ajenos) || !(carpeta.permissions() & ajenos))
        << ruta.toStdString();
    int mostrada = 0;
    QObject::connect(&primera, &quarvel::InstanciaUnica::mostrar, [&] { ++mostrada; });
    // Connections that say nothing, more than it serves at once.
    std::vector<std::unique_ptr<QLocalSocket>> mudas;
    for (int i = 0; i < 40; ++i) {
        mudas.push_back(std::make_unique<QLocalSocket>());
        mudas.back()->connectToServer(ruta);
    }
    esperar_eventos(200);
    quarvel::InstanciaUnica segunda(QStringLiteral("QuarvelPrueba"));
    EXPECT_TRUE(segunda.otraEnMarcha());
    QElapsedTimer t;
    t.start();
    while (mostrada == 0 && t.elapsed() < 10'000)
        esperar_eventos(20);
    EXPECT_EQ(mostrada, 1);
    EXPECT_EQ(primera.servidor(), ruta);
}

TEST(InstanciaUnica, AnEmptyLockLeftByAStartKilledEarlyIsTakenOver) {
    // A start stopped while it wrote its lock left it empty: the next start
    // runs, rather than ending as if another were starting, for ever.
    CarpetaTemporal dir;
    CarpetaTemporal::escribir(".QuarvelPrueba.lock", "");
    quarvel::InstanciaUnica primera(QStringLiteral("QuarvelPrueba"));
    EXPECT_FALSE(primera.otraEnMarcha());
    EXPECT_TRUE(primera.impedimento().isEmpty());
    EXPECT_FALSE(primera.servidor().isEmpty());
    // A living first one is still found.
    quarvel::InstanciaUnica segunda(QStringLiteral("QuarvelPrueba"));
    EXPECT_TRUE(segunda.otraEnMarcha());
}

TEST(InstanciaUnica, AFolderThatCannotBeWrittenStillRunsOneAndSaysSo) {
    CarpetaTemporal dir;
    const QString ro = dir.ruta() + QStringLiteral("/ro");
    ASSERT_TRUE(QDir().mkdir(ro));
    const int estado = en_hijo([&ro] {
        // Read-only for root too: a read-only mount, in a namespace of the
        // child's own so nothing is left mounted.
        if (::geteuid() != 0)
            ::chmod(qPrintable(ro), 0555);
        else if (::unshare(CLONE_NEWNS) != 0 ||
                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount("tmpfs", qPrintable(ro), "tmpfs", MS_RDONLY, nullptr) != 0)
            return kSinSistema;
        QDir::setCurrent(ro);
        {
            quarvel::InstanciaUnica primera(QStringLiteral("QuarvelPrueba"));
            if (primera.otraEnMarcha() || primera.servidor().isEmpty())
                return 1;
            const QString aviso = primera.avisoDeCarpeta();
            if (!aviso.contains(ro) || !aviso.contains(QStringLiteral("qv_int.ini")))
                return 2;
            quarvel::InstanciaUnica segunda(QStringLiteral("QuarvelPrueba"));
            if (!segunda.otraEnMarcha())
                return 3;
        }
        // Gone with the first: the next start runs.
        quarvel::InstanciaUnica tercera(QStringLiteral("QuarvelPrueba"));
        return tercera.otraEnMarcha() ? 4 : 0;
    });
    if (estado == kSinSistema)
        GTEST_SKIP() << "no read-only mount here";
    EXPECT_EQ(estado, 0);
}

TEST(InstanciaUnica, AFolderAnotherUserPlantedDoesNotSwitchItOff) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    CarpetaTemporal dir;
    const QByteArray tmp_antes = qgetenv("TMPDIR");
    const QByteArray xdg_antes = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(dir.ruta()));
    qunsetenv("XDG_RUNTIME_DIR");
    // Another user made this user's folder first, open to all.
    const QString plantada = dir.ruta() + QStringLiteral("/quarvel-%1").arg(::getuid());
    ASSERT_EQ(::mkdir(qPrintable(plantada), 0777), 0);
    ASSERT_EQ(::chmod(qPrintable(plantada), 0777), 0);
    ASSERT_EQ(::chown(qPrintable(plantada), 65534, 65534), 0);
    {
        quarvel::InstanciaUnica primera(QStringLiteral("QuarvelPrueba"));
        ASSERT_FALSE(primera.otraEnMarcha());
        EXPECT_FALSE(primera.servidor().isEmpty());
        EXPECT_FALSE(primera.servidor().startsWith(plantada + '/'));
        quarvel::InstanciaUnica segunda(QStringLiteral("QuarvelPrueba"));
        EXPECT_TRUE(segunda.otraEnMarcha()) << "the second start still finds the first";
    }
    qputenv("TMPDIR", tmp_antes);
    qputenv("XDG_RUNTIME_DIR", xdg_antes);
}

TEST(InstanciaUnica, ALockAnotherUserLeftIsNamed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    CarpetaTemporal dir;
    // A shared folder (sticky, like /tmp): only its owner removes the lock,
    // which a program of root's left when it died.
    ASSERT_EQ(::chmod(qPrintable(dir.ruta()), 01777), 0);
    CarpetaTemporal::escribir(".QuarvelPrueba.lock", "999999\nQuarvelPrueba\n" +
                                                         QSysInfo::machineHostName().toUtf8() +
                                                         "\n");
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setuid(65534) != 0)
            ::_exit(2);
        quarvel::InstanciaUnica otra(QStringLiteral("QuarvelPrueba"));
        ::_exit(!otra.otraEnMarcha() && otra.impedimento().contains(".QuarvelPrueba.lock") &&
                        otra.impedimento().contains("999999")
                    ? 0
                    : 1);
    }
    int estado = 0;
    ::waitpid(pid, &estado, 0);
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0);
}

TEST(Senales, TermWhileStartUpShowsAMessageEndsWith0) {
    CarpetaTemporal dir;
    // No "qv_int.ini": start-up stops at a message box.
    for (const char* binario : {QUARVEL_SENDER, QUARVEL_CHECKER}) {
        Programa p(binario);
        p.p.start(QString::fromLatin1(binario), {});
        ASSERT_TRUE(p.p.waitForStarted(5000));
        ASSERT_TRUE(atiende_sigterm(p.p.processId()));
        p.p.terminate();
        ASSERT_TRUE(p.p.waitForFinished(5000)) << binario;
        EXPECT_EQ(p.p.exitCode(), 0) << binario;
        EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("\r\n")) << "the unload ran";
        QFile::remove("qv_int.ini");
    }
}

TEST_F(ExtremoAExtremo, ASecondCheckerGivesWayAndTermClosesTheFirstTheNormalWay) {
    ASSERT_TRUE(simulador.iniciar());
    Programa primero(QUARVEL_CHECKER);
    primero.p.start(QStringLiteral(QUARVEL_CHECKER), {});
    ASSERT_TRUE(primero.p.waitForStarted(5000));
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(".Quarvel430.lock") && t.elapsed() < 5000)
        esperar_eventos(10);
    // A second start in the same folder asks the first to show itself, ends
    // with 0 and never touches the clock.
    Programa segundo(QUARVEL_CHECKER);
    t.restart();
    EXPECT_EQ(segundo.correr(), 0);
    // It reached the first at once, not after trying for seconds.
    EXPECT_LT(t.elapsed(), 2500);
    ASSERT_TRUE(simulador.esperarComando("CF", 1, 6000));
    esperar_eventos(300);
    EXPECT_EQ(primero.p.state(), QProcess::Running);
    int cadenas = 0;
    for (const auto& c : simulador.comandos())
        cadenas += c.cmd == "CF" ? 1 : 0;
    EXPECT_EQ(cadenas, 1);
    // SIGTERM runs the unload: "qv_int.ini" comes back.
    QFile::remove("qv_int.ini");
    primero.p.terminate();
    ASSERT_TRUE(primero.p.waitForFinished(5000));
    EXPECT_EQ(primero.p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(primero.p.exitCode(), 0);
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("1\r\n"));
}
