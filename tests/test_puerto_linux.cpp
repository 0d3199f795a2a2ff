#include "clock_link/puerto_serie_qt.h"
#include "tests/apoyo.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
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
        // A device that finds the line full drops what it sends.
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
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

TEST(Puerto, ComNumberMapsToLinkInWorkingFolderOrTtyS) {
    CarpetaTemporal dir;
    EXPECT_EQ(ruta_de_puerto(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(ruta_de_puerto(12), QStringLiteral("/dev/ttyS11"));
    QFile::link(QStringLiteral("/dev/null"), QStringLiteral("COM3"));
    EXPECT_EQ(ruta_de_puerto(3), QDir::current().absoluteFilePath("COM3"));

    // A link seen once stays the port while it is gone (an adapter pulled
    // out): never /dev/ttyS2 in its place.
    PuertoFalso p;
    p.setCommPort(3);
    EXPECT_EQ(p.ruta(), QDir::current().absoluteFilePath("COM3"));
    QFile::remove(QStringLiteral("COM3"));
    EXPECT_EQ(p.ruta(), QDir::current().absoluteFilePath("COM3"));
    p.setCommPort(3);
    EXPECT_EQ(p.ruta(), QStringLiteral("/dev/ttyS2"));
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

// One clock, one program: a port closed after its exchange still holds the
// device, and a second port on it (another link to it, as another folder
// has) is refused naming the first one's process and folder.
TEST(Puerto, ASecondProgramOnTheDeviceIsRefusedUntilTheFirstEnds) {
    CarpetaTemporal dir;
    Pty pty;
    ASSERT_TRUE(QFile::link(pty.esclavo(), QStringLiteral("COM7")));
    ASSERT_TRUE(QFile::link(pty.esclavo(), QStringLiteral("COM8")));
    auto primero = std::make_unique<PuertoSerieQt>();
    primero->setCommPort(7);
    ASSERT_TRUE(primero->setPortOpen(true)) << primero->ultimoError().toStdString();
    primero->setPortOpen(false);
    PuertoSerieQt segundo;
    segundo.setCommPort(8);
    EXPECT_FALSE(segundo.setPortOpen(true));
    const QString texto = segundo.ultimoError();
    for (const QString& parte : {QStringLiteral("COM8"), QStringLiteral("proceso %1").arg(getpid()),
                                 QStringLiteral("en la carpeta %1").arg(QDir::currentPath())})
        EXPECT_TRUE(texto.contains(parte)) << texto.toStdString();
    primero.reset();
    ASSERT_TRUE(segundo.setPortOpen(true)) << segundo.ultimoError().toStdString();
    EXPECT_TRUE(segundo.Output("CX"));
    EXPECT_EQ(pty.leer(), QByteArray("CX"));
}

// The device held between exchanges went away and the folder's link now
// names another one (an adapter plugged back): the next open reaches it.
TEST(Puerto, AHeldPortFollowsItsLinkToANewDevice) {
    CarpetaTemporal dir;
    PuertoSerieQt p;
    p.setCommPort(7);
    QString antes;
    for (int vez = 0; vez < 2; ++vez) {
        Pty pty;
        QFile::remove(QStringLiteral("COM7"));
        ASSERT_TRUE(QFile::link(pty.esclavo(), QStringLiteral("COM7")));
        ASSERT_TRUE(p.setPortOpen(true)) << vez << p.ultimoError().toStdString();
        EXPECT_TRUE(p.Output("S"));
        EXPECT_EQ(pty.leer(), QByteArray("S")) << vez << " " << antes.toStdString();
        p.setPortOpen(false);
        antes = pty.esclavo();
    }
}

TEST(Puerto, WhatNobodyReadsStaysBoundedAndAStuckDeviceIsNamed) {
    CarpetaTemporal dir;
    Pty pty;
    ASSERT_TRUE(QFile::link(pty.esclavo(), QStringLiteral("COM7")));
    PuertoSerieQt p;
    p.setCommPort(7);
    ASSERT_TRUE(p.setPortOpen(true)) << p.ultimoError().toStdString();
    // A device that talks on and on while the port stays open.
    for (int i = 0; i < 16; ++i) {
        pty.escribir(QByteArray(4096, 'x'));
        esperar_eventos(5);
    }
    EXPECT_LE(p.InBufferCount(), 4096);

    // A device that reads nothing: the queue fills and says so.
    QString perdido;
    QObject::connect(&p, &PuertoSerie::perdido, [&](const QString& d) { perdido = d; });
    for (int i = 0; i < 200 && perdido.isEmpty() && p.PortOpen(); ++i) {
        p.Output(QByteArray(64 * 1024, 'y'));
        esperar_eventos(2);
    }
    EXPECT_TRUE(perdido.contains("no lee")) << perdido.toStdString();
}

TEST(Puerto, ALockOfAnotherUserIsNamedWithItsProcess) {
    CarpetaTemporal dir;
    // A device only root may open, and a lock of it naming a live process.
    CarpetaTemporal::escribir("disp", "");
    QFile::setPermissions("disp", QFile::ReadOwner | QFile::WriteOwner);
    const QString disp = dir.ruta() + "/disp";
    QString lock = disp;
    lock.replace('/', '_');
    CarpetaTemporal::escribir("LCK.." + lock, QByteArray::number(getpid()) + "\n");
    CarpetaTemporal::escribir("LCK..pts_5", "  4243\n");
    const QStringList carpetas{QStringLiteral("/nowhere"), dir.ruta()};
    // One's own lock is a program's, not named.
    EXPECT_TRUE(bloqueo_ajeno("/dev/pts/5", carpetas).archivo.isEmpty());
    if (geteuid() != 0)
        GTEST_SKIP() << "giving the lock to another user needs root";
    ASSERT_EQ(chown(QFile::encodeName("LCK.." + lock).constData(), 65534, 65534), 0);
    const BloqueoAjeno b = bloqueo_ajeno(disp, carpetas);
    EXPECT_EQ(b.archivo, dir.ruta() + "/LCK.." + lock);
    EXPECT_EQ(b.pid, getpid());
    EXPECT_TRUE(b.vive);
    EXPECT_TRUE(b.dueno_sin_acceso);
    const QString texto = texto_de_bloqueo(b, "COM1");
    for (const QString& parte :
         {b.usuario, QString::number(getpid()), b.proceso, QStringLiteral("no protege")})
        EXPECT_TRUE(!parte.isEmpty() && texto.contains(parte)) << texto.toStdString();
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
