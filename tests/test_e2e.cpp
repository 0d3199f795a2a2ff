// The real programs and windows against the clock simulator on a real
// pseudo-terminal.
#include "simulator/control/simulador_proceso.h"
#include "tests/apoyo.h"
#include "tests/formas.h"

#include "checker/form1.h"
#include "clock_link/puerto_serie_qt.h"
#include "platform/temporizador.h"
#include "sender/form1.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

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
        r << c.cmd;
    return r;
}

// Waits, if needed, so the next few seconds stay inside one minute.
void lejos_del_cambio_de_minuto() {
    const int s = QTime::currentTime().second();
    if (s >= 50)
        QThread::sleep(static_cast<unsigned long>(61 - s));
}

class ExtremoAExtremo : public ::testing::Test {
protected:
    void SetUp() override {
        CarpetaTemporal::escribir("qv.ini", quarvel::contenido_qv_ini(1, "9600,N,8,1", 100));
        CarpetaTemporal::escribir("qv_int.ini", "1\r\n");
    }
    CarpetaTemporal dir;
    SimuladorProceso simulador{quarvel::ruta_simulador(), dir.ruta()};
};

} // namespace

TEST_F(ExtremoAExtremo, CheckerProgramSetsAWrongClockRightAtStart) {
    ASSERT_TRUE(simulador.iniciar({"--offset", "-125"}));
    QProcess checker;
    checker.setWorkingDirectory(dir.ruta());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    checker.setProcessEnvironment(env);
    QElapsedTimer reloj;
    reloj.start();
    checker.start(QStringLiteral(QUARVEL_CHECKER), {});
    ASSERT_TRUE(checker.waitForStarted(5000));
    const bool completo = simulador.esperarComando("CF", 1, 5000);
    const qint64 tardanza = reloj.elapsed();
    checker.terminate();
    checker.waitForFinished(3000);
    ASSERT_TRUE(completo);
    EXPECT_LT(tardanza, 2500) << "one second after start, eight steps of 100 ms";

    const auto c = sin_errores(simulador.comandos());
    ASSERT_EQ(nombres(c), (QStringList{"D", "M", "Y", "H", "m", "S", "CW", "CF"}));
    for (std::size_t i = 1; i < c.size(); ++i) {
        const double ms = static_cast<double>(c[i].t_us - c[i - 1].t_us) / 1000.0;
        EXPECT_GT(ms, 60) << i;
        EXPECT_LT(ms, 250) << i;
    }
    // The offset is gone: the device shows the PC's time within a second or
    // so (the second of the first step plus one, sent half a second later;
    // an update begun at second 59 sends 59 and leaves the clock up to 1.6 s
    // slow), never the two minutes it was off.
    const QDateTime pc = QDateTime::fromMSecsSinceEpoch(c.back().t_us / 1000);
    const qint64 desvio = pc.msecsTo(c.back().aparato);
    EXPECT_GT(desvio, -1700);
    EXPECT_LT(desvio, 1100);
}

namespace {

// The checker window on the real port, with a time source the test sets.
class CheckerReal : public ExtremoAExtremo {
protected:
    quarvel430::Form1& cargar() {
        form = checker_quieto(puerto, hora, caja);
        return *form;
    }
    // Starts a read-back now, as the scheduler does at second 31.
    void chequear(const QDateTime& momento) {
        hora.t =
            QDateTime(momento.date(), QTime(momento.time().hour(), momento.time().minute(), 31));
        form->contador_reloj = 9;
        form->chekeo_pendiente = 1;
        QElapsedTimer t;
        t.start();
        form->Timer2_Timer();
        duracion_ms = t.elapsed();
    }
    quarvel::PuertoSerieQt puerto;
    HoraFija hora;
    CajaFalsa caja;
    std::unique_ptr<quarvel430::Form1> form;
    qint64 duracion_ms = 0;
};

} // namespace

TEST_F(CheckerReal, RightClockLogsNothing) {
    ASSERT_TRUE(simulador.iniciar());
    lejos_del_cambio_de_minuto();
    cargar();
    chequear(QDateTime::currentDateTime());
    EXPECT_FALSE(QFile::exists("sincro.txt")) << CarpetaTemporal::leer("sincro.txt").toStdString();
    EXPECT_EQ(form->estado_chekeo, 3);
    EXPECT_TRUE(respuesta_entera(CarpetaTemporal::leer("salida.txt")));
    EXPECT_LT(duracion_ms, 500);
}

TEST_F(CheckerReal, WrongClockIsLoggedThenUpdated) {
    ASSERT_TRUE(simulador.iniciar({"--offset", "-86400"}));
    lejos_del_cambio_de_minuto();
    auto& f = cargar();
    const QDateTime ahora = QDateTime::currentDateTime();
    chequear(ahora);
    const QByteArray linea = CarpetaTemporal::leer("sincro.txt");
    EXPECT_TRUE(
        linea.startsWith("fecha reloj : " + ahora.addDays(-1).toString("dd/MM/yyyy").toLatin1() +
                         "  fecha prog : " + ahora.toString("dd/MM/yyyy").toLatin1()))
        << linea.toStdString();
    EXPECT_TRUE(f.Timer1->Enabled());
    esperar_eventos(2200);
    EXPECT_TRUE(simulador.esperarComando("CF", 1, 1000));
    const QStringList c = nombres(sin_errores(simulador.comandos()));
    EXPECT_EQ(c, (QStringList{"CX", "D", "M", "Y", "H", "m", "S", "CW", "CF"}));
    EXPECT_EQ(f.estado_chekeo, 3);
    EXPECT_FALSE(puerto.PortOpen());
}

TEST_F(CheckerReal, NoReplyEndsAfterTheBoundedWait) {
    ASSERT_TRUE(simulador.iniciar({"--no-reply"}));
    cargar();
    chequear(QDateTime::currentDateTime());
    EXPECT_GT(duracion_ms, 1500);
    EXPECT_LT(duracion_ms, 8000);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), QByteArray("\r\n"));
    EXPECT_TRUE(CarpetaTemporal::leer("sincro.txt").startsWith("fecha reloj : 0/0/0"));
}

TEST_F(CheckerReal, MinuteOf53EndsTheWaitEarlyAndMatches) {
    lejos_del_cambio_de_minuto();
    const QDateTime ahora = QDateTime::currentDateTime();
    // Put the device at minute 53 of this hour, second 20.
    const QDateTime objetivo(ahora.date(), QTime(ahora.time().hour(), 53, 20));
    const qint64 offset = ahora.secsTo(objetivo);
    ASSERT_TRUE(simulador.iniciar({"--offset", QString::number(offset)}));
    cargar();
    chequear(objetivo);
    EXPECT_FALSE(QFile::exists("sincro.txt")) << CarpetaTemporal::leer("sincro.txt").toStdString();
    const QByteArray salida = CarpetaTemporal::leer("salida.txt");
    ASSERT_GE(salida.size(), 14);
    EXPECT_EQ(salida[11], '\x53');
    EXPECT_LT(salida.size(), 17) << "the wait ended at the minute's \"S\"";
}

namespace {

class SenderReal : public ExtremoAExtremo {
protected:
    quarvel38::Form1& cargar() {
        CarpetaTemporal::escribir("qv.ini", quarvel::contenido_qv_ini(1, "9600,N,8,1", 20));
        quarvel38::Entorno e{&puerto, &hora, &caja, {}};
        form = std::make_unique<quarvel38::Form1>(e);
        form->Form_Load();
        form->Timer2->setEnabled(false);
        form->Timer2_Timer();
        return *form;
    }
    quarvel::PuertoSerieQt puerto;
    HoraFija hora;
    CajaFalsa caja;
    std::unique_ptr<quarvel38::Form1> form;
};

} // namespace

TEST_F(SenderReal, EnviarAndInicioPutTheExactBytesOnTheLine) {
    ASSERT_TRUE(simulador.iniciar());
    auto& f = cargar();
    f.Command4_Click();
    ASSERT_TRUE(simulador.esperarComando("CF", 1, 3000));
    hora.fijar(5, 12, 2026, 19, 33, 59);
    f.Timer2_Timer();
    f.Check1->setChecked(true);
    f.Command1_Click();
    ASSERT_TRUE(simulador.esperarComando("CH", 1, 3000));
    f.Command2_Click();

    QStringList recibido;
    for (const auto& c : simulador.comandos())
        recibido << (c.valor >= 0 ? QStringLiteral("%1 %2").arg(c.cmd).arg(c.valor) : c.cmd);
    EXPECT_EQ(recibido, (QStringList{"D 5", "M 12", "Y 26", "H 19", "m 33", "S 43", "CW", "CF",
                                     "D 5", "M 12", "Y 26", "H 19", "m 33", "S 59", "CW", "CH"}));
    const auto c = simulador.comandos();
    EXPECT_EQ(c.back().aparato.toString("dd/MM/yyyy HH:mm"), "05/12/2026 19:33");
}
