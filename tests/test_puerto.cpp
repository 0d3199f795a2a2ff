#include "clock_link/puerto_serie_qt.h"
#include "platform/fallo.h"
#include "platform/temporizador.h"
#include "tests/apoyo.h"

#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace quarvel;

namespace {

// A pseudo-terminal standing in for the clock, linked as COM<n>.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        esclavo_ = QString::fromLocal8Bit(ptsname(master_));
        // Keep the slave side open so the master survives client closes.
        const int s = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(s, &t);
        cfmakeraw(&t);
        tcsetattr(s, TCSANOW, &t);
        guardia_ = s;
    }
    ~Pty() {
        ::close(guardia_);
        ::close(master_);
    }
    QString esclavo() const { return esclavo_; }
    QByteArray leer(int esperar_ms = 200) {
        QByteArray r;
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, esperar_ms) > 0) {
            char b[256];
            const ssize_t n = ::read(master_, b, sizeof b);
            if (n <= 0)
                break;
            r.append(b, n);
            esperar_ms = 50;
        }
        return r;
    }
    void escribir(const QByteArray& b) { (void)!::write(master_, b.constData(), b.size()); }

private:
    int master_ = -1;
    int guardia_ = -1;
    QString esclavo_;
};

} // namespace

TEST(Puerto, PortNumberAndSettingsValidated) {
    PuertoFalso p;
    EXPECT_TRUE(descripcion_de([&] { p.setCommPort(0); }).contains("0"));
    EXPECT_THROW(p.setCommPort(256), Fallo);
    p.setCommPort(255);
    EXPECT_EQ(p.CommPort(), 255);
    for (const char* bueno : {"9600,N,8,1", "110,e,7,2", "256000,O,5,1.5", "19200,M,6,1"}) {
        p.setSettings(QString::fromLatin1(bueno));
        EXPECT_EQ(p.Settings(), QString::fromLatin1(bueno));
    }
    const std::pair<const char*, const char*> malos[] = {
        {"9600,N,8", "9600,N,8"},  {"0,N,8,1", "Velocidad"}, {"abc,N,8,1", "Velocidad"},
        {"9600,X,8,1", "Paridad"}, {"9600,N,9,1", "datos"},  {"9600,N,8,3", "parada"},
        {"", "Configuracion"},
    };
    for (const auto& [malo, campo] : malos) {
        const QString d = descripcion_de([&] { p.setSettings(QString::fromLatin1(malo)); });
        EXPECT_TRUE(d.contains(QString::fromLatin1(campo))) << malo << " -> " << d.toStdString();
    }
    EXPECT_EQ(p.Settings(), QStringLiteral("19200,M,6,1"));
}

TEST(Puerto, ComNumberMapsToLinkInWorkingFolderOrTtyS) {
    CarpetaTemporal dir;
    EXPECT_EQ(ruta_de_puerto(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(ruta_de_puerto(12), QStringLiteral("/dev/ttyS11"));
    QFile::link(QStringLiteral("/dev/null"), QStringLiteral("COM3"));
    EXPECT_EQ(ruta_de_puerto(3), QDir::current().absoluteFilePath("COM3"));
}

TEST(Puerto, RealPortWritesEveryByteAndCloseLosesNothing) {
    CarpetaTemporal dir;
    Pty pty;
    ASSERT_TRUE(QFile::link(pty.esclavo(), QStringLiteral("COM7")));
    PuertoSerieQt p;
    p.setCommPort(7);
    p.setSettings(QStringLiteral("9600,N,8,1"));
    ASSERT_TRUE(p.setPortOpen(true)) << p.ultimoError().toStdString();
    EXPECT_TRUE(p.PortOpen());
    EXPECT_TRUE(p.Output(QByteArray("D\x00", 2)));
    QByteArray mucho(2000, '\x55');
    EXPECT_TRUE(p.Output(mucho));
    p.setPortOpen(false);
    EXPECT_FALSE(p.PortOpen());
    EXPECT_EQ(pty.leer(), QByteArray("D\x00", 2) + mucho);

    // Reading: whatever arrived since the last read, then empty.
    ASSERT_TRUE(p.setPortOpen(true));
    pty.escribir(QByteArray("CXd\x05S", 5));
    QByteArray r;
    for (int i = 0; i < 200 && r.size() < 5; ++i) {
        p.esperarDatos(5);
        r += p.Input();
    }
    EXPECT_EQ(r, QByteArray("CXd\x05S", 5));
    EXPECT_TRUE(p.Input().isEmpty());
    p.setPortOpen(false);

    // Closed: writes are refused and reads empty, nothing crashes.
    EXPECT_FALSE(p.Output("S"));
    EXPECT_TRUE(p.ultimoError().contains("cerrado"));
    EXPECT_TRUE(p.Input().isEmpty());
}

TEST(Puerto, MissingDeviceFailsWithAClearDescription) {
    CarpetaTemporal dir;
    QFile::link(QStringLiteral("/dev/no-such-clock"), QStringLiteral("COM9"));
    PuertoSerieQt p;
    p.setCommPort(9);
    EXPECT_FALSE(p.setPortOpen(true));
    EXPECT_FALSE(p.PortOpen());
    EXPECT_TRUE(p.ultimoError().contains("COM9")) << p.ultimoError().toStdString();
    EXPECT_TRUE(p.ultimoError().contains("No existe")) << p.ultimoError().toStdString();
    EXPECT_FALSE(p.Output("CX"));
}

TEST(Temporizador, WindowTimerSemantics) {
    Temporizador t(QStringLiteral("T"), 20, false);
    int ticks = 0;
    QObject::connect(&t, &Temporizador::Timer, [&] { ++ticks; });
    EXPECT_THROW(t.setInterval(-1), Fallo);
    EXPECT_THROW(t.setInterval(65536), Fallo);
    t.setInterval(65535);
    EXPECT_EQ(t.Interval(), 65535);

    // Interval 0 never fires, even enabled.
    t.setInterval(0);
    t.setEnabled(true);
    esperar_eventos(60);
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(t.Enabled());

    // Enabling a running timer does not restart its count: the tick comes at
    // 200 ms, not at 300.
    t.setInterval(200);
    esperar_eventos(100);
    t.setEnabled(true);
    esperar_eventos(160);
    EXPECT_EQ(ticks, 1);
    t.setEnabled(false);
    esperar_eventos(250);
    EXPECT_EQ(ticks, 1);
}

TEST(Temporizador, TicksNeverPileUpBehindABusyHandler) {
    Temporizador t(QStringLiteral("T"), 10, true);
    int ticks = 0;
    QObject::connect(&t, &Temporizador::Timer, [&] {
        ++ticks;
        usleep(50000);
    });
    esperar_eventos(120);
    // A 50 ms handler on a 10 ms timer: two or three ticks, not twelve.
    EXPECT_LE(ticks, 3);
    EXPECT_GE(ticks, 1);
}

TEST(Temporizador, AlignedTicksKeepTheirPlaceWithinTheSecond) {
    // The display tick: first on a whole second at least 1 s away.
    EXPECT_EQ(proximo_disparo(10'000'400, 1000, 0, true), 10'002'000);
    EXPECT_EQ(proximo_disparo(10'000'000, 1000, 0, true), 10'001'000);
    EXPECT_EQ(proximo_disparo(10'001'003, 1000, 0, false), 10'002'000);
    // A tick delivered 700 ms late skips to the next second, never twice.
    EXPECT_EQ(proximo_disparo(10'001'700, 1000, 0, false), 10'003'000);
    // 100 ms ticks whose tenth falls on the second: the first is at .100.
    for (qint64 ahora : {10'000'000LL, 10'000'050LL, 10'000'450LL, 10'000'999LL}) {
        const qint64 primero = proximo_disparo(ahora, 100, 100, true);
        EXPECT_EQ(primero % 1000, 100) << ahora;
        EXPECT_GE(primero - ahora, 100);
        EXPECT_LE(primero - ahora, 1100);
    }
    EXPECT_EQ(proximo_disparo(10'000'103, 100, 100, false), 10'000'200);
    EXPECT_EQ(proximo_disparo(10'000'098, 100, 100, false), 10'000'200);
}
