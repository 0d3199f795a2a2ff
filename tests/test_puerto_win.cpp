#include "clock_link/puerto_serie_win.h"
#include "platform/fuente_hora.h"
#include "tests/apoyo.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <windows.h>

using namespace quarvel;

namespace {

// The COM port a clock (or the simulator) answers on, from
// QUARVEL_COM_PRUEBA: tests of this fixture skip when none is named.
class PuertoWinConReloj : public ::testing::Test {
protected:
    void SetUp() override {
        n = qEnvironmentVariableIntValue("QUARVEL_COM_PRUEBA");
        if (n == 0)
            GTEST_SKIP() << "QUARVEL_COM_PRUEBA names no port with a clock";
        p.setCommPort(n);
        p.setSettings(QStringLiteral("9600,N,8,1"));
    }
    int n = 0;
    PuertoSerieWin p;
};

// Sends the read command and collects the reply as the read-back does.
QByteArray leer_reloj(PuertoSerieWin& p) {
    if (!p.Output("CX"))
        return "<not written>";
    QByteArray r;
    for (int i = 0; i < 2000 && r.size() < 15; ++i) {
        p.esperarDatos(1);
        r += p.Input();
    }
    return r;
}

} // namespace

TEST(PuertoWin, AMissingPortIsNamedAndRefusesWrites) {
    PuertoSerieWin p;
    p.setCommPort(200);
    EXPECT_FALSE(p.setPortOpen(true));
    EXPECT_FALSE(p.PortOpen());
    EXPECT_TRUE(p.ultimoError().contains("No existe el puerto COM200"))
        << qPrintable(p.ultimoError());
    EXPECT_FALSE(p.Output("CX"));
    EXPECT_TRUE(p.ultimoError().contains("cerrado"));
    EXPECT_TRUE(p.Input().isEmpty());
}

TEST_F(PuertoWinConReloj, TheClockAnswersTheReadCommandAgainAfterAReopen) {
    int avisos = 0;
    QObject::connect(&p, &PuertoSerie::OnComm, [&avisos] { ++avisos; });
    for (int vez = 0; vez < 2; ++vez) {
        ASSERT_TRUE(p.setPortOpen(true)) << qPrintable(p.ultimoError());
        const QByteArray r = leer_reloj(p);
        EXPECT_EQ(r.size(), 15) << vez << ": " << r.toHex().constData();
        EXPECT_TRUE(r.startsWith("CXd") && r.endsWith('S')) << r.toHex().constData();
        esperar_eventos(50);
        EXPECT_GE(avisos, vez + 1) << "OnComm reaches the window's thread";
        p.setPortOpen(false);
        EXPECT_FALSE(p.PortOpen());
    }
}

TEST_F(PuertoWinConReloj, AnOpenPortIsBusyForASecondHandle) {
    ASSERT_TRUE(p.setPortOpen(true)) << qPrintable(p.ultimoError());
    // Wine maps COM ports to Linux devices, which it does not open
    // exclusively; Windows does.
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP() << "Wine opens a COM port for a second handle too";
    PuertoSerieWin otro;
    otro.setCommPort(n);
    EXPECT_FALSE(otro.setPortOpen(true));
    EXPECT_TRUE(otro.ultimoError().contains("en uso")) << qPrintable(otro.ultimoError());
}

TEST_F(PuertoWinConReloj, AFailureQueuedByAClosedOpeningLeavesTheNewOneOpen) {
    ASSERT_TRUE(p.setPortOpen(true)) << qPrintable(p.ultimoError());
    // As the reading thread queues it, just before a read-back's reopen.
    emit p.fallo_lectura(p.sesion(), QStringLiteral("prueba"));
    p.setPortOpen(false);
    ASSERT_TRUE(p.setPortOpen(true)) << qPrintable(p.ultimoError());
    esperar_eventos(50);
    EXPECT_TRUE(p.PortOpen());
    EXPECT_EQ(leer_reloj(p).size(), 15);
    emit p.fallo_lectura(p.sesion(), QStringLiteral("prueba"));
    esperar_eventos(50);
    EXPECT_FALSE(p.PortOpen()) << "the open one's own failure still closes it";
    EXPECT_TRUE(p.ultimoError().contains("Se perdió el puerto")) << qPrintable(p.ultimoError());
}

TEST_F(PuertoWinConReloj, AReplyIsSeenAsItComesAndTheFineTimerOnlyWhileAwaited) {
    ASSERT_TRUE(p.setPortOpen(true)) << qPrintable(p.ultimoError());
    EXPECT_EQ(ResolucionFina::vigentes(), 0) << "an open port nobody waits on";
    ASSERT_TRUE(p.Output("CX"));
    QElapsedTimer t;
    t.start();
    QByteArray r;
    int tenida = 0;
    while (r.size() < 15 && t.elapsed() < 2000) {
        p.esperarDatos(1);
        r += p.Input();
        tenida = qMax(tenida, ResolucionFina::vigentes());
    }
    const qint64 ms = t.elapsed();
    EXPECT_EQ(r.size(), 15) << r.toHex().constData();
    // The simulator answers in about 35 ms; the port's rare look, a
    // quarter of a second after the open just before the write, would
    // first find it then.
    EXPECT_LT(ms, 150);
    EXPECT_EQ(tenida, 1);
    for (int i = 0; i < 200 && ResolucionFina::vigentes() > 0; ++i)
        esperar_eventos(10);
    EXPECT_EQ(ResolucionFina::vigentes(), 0) << "let go once nobody waits";
}
