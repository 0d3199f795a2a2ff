// Faults the programs must survive: missing, busy and forbidden ports, a
// clock that vanishes, says nothing or talks garbage, a slow line, files that
// cannot be written, and two programs writing at once.
#include "clock_link/puerto_serie_qt.h"
#include "platform/fallo.h"
#include "platform/temporizador.h"
#include "settings/archivos_config.h"
#include "simulator/control/simulador_proceso.h"
#include "tests/ventanas.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using quarvel::SimuladorProceso;

namespace {

class Fallas : public ::testing::Test {
protected:
    void SetUp() override {
        // Port 200: where its link is missing, /dev/ttyS199 surely is too.
        CarpetaTemporal::escribir("qv.ini", quarvel::contenido_qv_ini(200, "9600,N,8,1", 50));
        CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
    }
    quarvel430::Form1& checker() {
        chk = checker_quieto(puerto, hora, caja);
        return *chk;
    }
    quarvel38::Form1& sender() {
        snd = sender_quieto(puerto, hora, caja);
        return *snd;
    }
    void chequear() { ::chequear(*chk, hora, momento); }
    // A complete update, its steps run at once.
    void actualizar() {
        chk->Timer1_Timer();
        hora.avanzar(3000);
    }
    // The simulator's offset that puts its clock at the read-back's minute.
    QString al_momento() const {
        return QString::number(
            static_cast<double>(QDateTime::currentDateTime().msecsTo(momento)) / 1000.0, 'f', 3);
    }

    const QDateTime momento = QDateTime(QDate(2026, 12, 5), QTime(14, 5, 31));
    CarpetaTemporal dir;
    SimuladorProceso simulador{quarvel::ruta_simulador(), dir.ruta()};
    quarvel::PuertoSerieQt puerto;
    RelojVirtual hora;
    CajaFalsa caja;
    std::unique_ptr<quarvel430::Form1> chk;
    std::unique_ptr<quarvel38::Form1> snd;
};

} // namespace

TEST_F(Fallas, MissingPortIsReportedAndTheNextExchangeRecovers) {
    auto& f = checker();
    actualizar();
    EXPECT_TRUE(f.ultimoFallo().contains("No existe")) << f.ultimoFallo().toStdString();
    EXPECT_TRUE(caja.mensajes.empty());
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando) << "checking goes on";
    chequear();
    EXPECT_TRUE(QFile::exists("sincro.txt")) << "no clock is a wrong clock";

    ASSERT_TRUE(simulador.iniciar({"--port", "200"}));
    actualizar();
    EXPECT_TRUE(simulador.esperarComando("CF", 1, 2000));
}

TEST_F(Fallas, PortHeldByAnotherProgramIsReportedAsBusy) {
    ASSERT_TRUE(simulador.iniciar({"--port", "200"}));
    auto otro = std::make_unique<quarvel::PuertoSerieQt>();
    otro->setCommPort(200);
    ASSERT_TRUE(otro->setPortOpen(true));
    auto& f = sender();
    f.Command4_Click();
    EXPECT_TRUE(f.ultimoFallo().contains("ya lo usa")) << f.ultimoFallo().toStdString();
    // It holds the device until it ends, not only while an exchange runs.
    otro.reset();
    f.Command4_Click();
    hora.avanzar(4000);
    EXPECT_TRUE(simulador.esperarComando("CF", 1, 2000));
}

TEST_F(Fallas, PortWithoutPermissionNamesTheDialoutGroup) {
    ASSERT_TRUE(simulador.iniciar({"--port", "200"}));
    const QByteArray enlace = QFile::symLinkTarget("COM200").toLocal8Bit();
    ASSERT_EQ(chmod(enlace.constData(), 0600), 0);
    // The folder must be open to others so the link itself is seen.
    ASSERT_EQ(chmod(dir.ruta().toLocal8Bit().constData(), 0755), 0);
    // Root opens anything: the attempt runs as an ordinary user.
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && setuid(65534) != 0)
            _exit(2);
        quarvel::PuertoSerieQt p;
        p.setCommPort(200);
        const bool abierto = p.setPortOpen(true);
        _exit(!abierto && p.ultimoError().contains("dialout") ? 0 : 1);
    }
    int estado = 0;
    waitpid(pid, &estado, 0);
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0);
}

TEST_F(Fallas, ClockVanishingInTheChainAndComingBack) {
    CarpetaTemporal::escribir("qv.ini", quarvel::contenido_qv_ini(200, "9600,N,8,1", 150));
    ASSERT_TRUE(simulador.iniciar({"--port", "200"}));
    auto& f = sender();
    f.Command4_Click();
    // Two steps reach the clock, then it goes away.
    hora.avanzar((f.planCadena().inicio_us - hora.t_us) / 1000 + 350);
    EXPECT_TRUE(simulador.esperarComando("M", 1, 2000));
    simulador.detener();
    for (int i = 0; i < 250 && (puerto.PortOpen() || f.ultimoFallo().isEmpty()); ++i) {
        hora.avanzar(100);
        esperar_eventos(20);
    }
    EXPECT_FALSE(f.ultimoFallo().isEmpty());
    EXPECT_FALSE(puerto.PortOpen());

    SimuladorProceso nuevo(quarvel::ruta_simulador(), dir.ruta());
    ASSERT_TRUE(nuevo.iniciar({"--port", "200"}));
    f.Command4_Click();
    hora.avanzar(4000);
    EXPECT_TRUE(nuevo.esperarComando("CF", 1, 2000));
}

TEST_F(Fallas, ClockVanishingDuringTheReadBack) {
    ASSERT_TRUE(simulador.iniciar({"--port", "200", "--no-reply", "--vanish-after", "0.5"}));
    auto& f = checker();
    esperar_eventos(300);
    QElapsedTimer t;
    t.start();
    chequear();
    // Bounded: 2000 passes, each about a millisecond, more on a busy machine.
    EXPECT_LT(t.elapsed(), 30'000);
    EXPECT_TRUE(QFile::exists("sincro.txt"));
    EXPECT_TRUE(f.Timer1->Enabled());
    actualizar();
    EXPECT_FALSE(f.ultimoFallo().isEmpty());
}

TEST_F(Fallas, GarbageReplyIsAWrongClockAndNothingBreaks) {
    ASSERT_TRUE(simulador.iniciar({"--port", "200", "--garbage-reply"}));
    auto& f = checker();
    chequear();
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt").size(), 17);
    EXPECT_TRUE(CarpetaTemporal::leer("sincro.txt").startsWith("fecha reloj : "));
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Parado);
}

TEST_F(Fallas, SlowLineStillReadsTheWholeReply) {
    ASSERT_TRUE(simulador.iniciar({"--port", "200", "--slow-line", "--offset", al_momento()}));
    auto& f = checker();
    chequear();
    EXPECT_TRUE(respuesta_entera(CarpetaTemporal::leer("salida.txt")));
    EXPECT_FALSE(QFile::exists("sincro.txt")) << CarpetaTemporal::leer("sincro.txt").toStdString();
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
}

TEST_F(Fallas, UnwritableLogIsReportedNotFatal) {
    ASSERT_TRUE(simulador.iniciar({"--port", "200", "--offset", "-7200"}));
    QDir().mkdir("sincro.txt");
    auto& f = checker();
    chequear();
    EXPECT_TRUE(f.ultimoFallo().contains("sincro.txt")) << f.ultimoFallo().toStdString();
    EXPECT_TRUE(f.Timer1->Enabled()) << "the clock is still set right";
}

TEST(Concurrencia, TwoProgramsClosingAtOnceLeaveOneWholeFile) {
    CarpetaTemporal dir;
    CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
    const QString textos[2] = {QString(300, u'a'), QString(500, u'b')};
    pid_t hijos[2];
    for (int i = 0; i < 2; ++i) {
        hijos[i] = fork();
        if (hijos[i] == 0) {
            for (int k = 0; k < 200; ++k)
                quarvel::guardar_intervalo(textos[i]);
            _exit(0);
        }
    }
    int vistos = 0;
    bool entero = true;
    for (int k = 0; k < 400; ++k) {
        const QByteArray c = CarpetaTemporal::leer("qv_int.ini");
        entero = entero && (c == "5\r\n" || c == textos[0].toLatin1() + "\r\n" ||
                            c == textos[1].toLatin1() + "\r\n");
        ++vistos;
    }
    for (pid_t h : hijos)
        waitpid(h, nullptr, 0);
    EXPECT_TRUE(entero);
    const QByteArray final = CarpetaTemporal::leer("qv_int.ini");
    EXPECT_TRUE(final == textos[0].toLatin1() + "\r\n" || final == textos[1].toLatin1() + "\r\n");
    EXPECT_EQ(QDir().entryList(QDir::Files).size(), 1) << "no temporary file left";
    EXPECT_EQ(vistos, 400);
}
