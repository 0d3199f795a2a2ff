#include "clock_link/puerto_serie_qt.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace quarvel {

namespace {

// How long a close may wait for written bytes to leave: enough for a few
// hundred bytes at 1200 baud, short enough not to freeze the window.
constexpr int kEsperaCierreMs = 1500;
// What arrives while nobody reads (the port stays open between read-backs)
// stops here instead of growing without end; a read-back reopens the port,
// which empties it, and reads much faster than a line delivers.
constexpr qint64 kEntradaMaxima = 4096;
// Where Qt keeps the lock files of the ports it opens, in its order.
const char* const kCarpetasDeBloqueo[] = {"/var/lock", "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp", "/tmp"};

QSerialPort::Parity paridad_qt(char p) {
    switch (p) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits parada_qt(int s) {
    switch (s) {
    case 2:
        return QSerialPort::TwoStop;
    case 15:
        return QSerialPort::OneAndHalfStop;
    default:
        return QSerialPort::OneStop;
    }
}

// A device policy (a service's, fixed when it started) refuses the device
// with EPERM even to access(); the file's own permissions give EACCES.
bool vedado_por_politica(const QSerialPort& puerto, const QString& ruta) {
#ifdef Q_OS_UNIX
    errno = 0;
    return puerto.error() == QSerialPort::PermissionError &&
           ::access(QFile::encodeName(ruta).constData(), R_OK | W_OK) != 0 && errno == EPERM;
#else
    Q_UNUSED(puerto)
    Q_UNUSED(ruta)
    return false;
#endif
}

// A device held open that went away (unplugged, or the simulator ended):
// its descriptor is hung up and only a new open reaches the device again.
bool colgado(const QSerialPort& puerto) {
#ifdef Q_OS_UNIX
    pollfd p{static_cast<int>(puerto.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(puerto)
    return false;
#endif
}

// Qt names the lock after the device below /dev, slashes as underscores.
QString nombre_de_bloqueo(const QString& dispositivo) {
    QString nombre = dispositivo;
    if (nombre.startsWith(QStringLiteral("/dev/")))
        nombre = nombre.mid(5);
    nombre.replace(u'/', u'_');
    return QStringLiteral("/LCK..") + nombre;
}

// Whether a process of any user lives (EPERM: another user's).
bool vive(qint64 pid) {
#ifdef Q_OS_UNIX
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
#else
    Q_UNUSED(pid)
    return false;
#endif
}

// Our working folder, added to the lock Qt took for us, so the program
// refused beside us can say where we run, whoever it runs as.
void anotar_carpeta(const QString& dispositivo) {
#ifdef Q_OS_UNIX
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString& carpeta : carpetas_de_bloqueo()) {
        QFile bloqueo(carpeta + nombre_de_bloqueo(dispositivo));
        if (!bloqueo.exists() || QFileInfo(bloqueo).ownerId() != ::geteuid() ||
            !bloqueo.open(QIODevice::ReadWrite | QIODevice::Append))
            continue;
        bloqueo.seek(0);
        if (bloqueo.readLine(32).trimmed() == pid) {
            bloqueo.seek(bloqueo.size());
            bloqueo.write(kProgramaEnBloqueo + QCoreApplication::applicationName().toUtf8() + '\n' +
                          kCarpetaEnBloqueo + QDir::currentPath().toUtf8() + '\n');
            return;
        }
    }
#else
    Q_UNUSED(dispositivo)
#endif
}

} // namespace

PuertoSerieQt::PuertoSerieQt(QObject* parent)
    : PuertoSerie(parent) {
    puerto_.setReadBufferSize(kEntradaMaxima);
    connect(&puerto_, &QSerialPort::readyRead, this, &PuertoSerie::OnComm);
    connect(&puerto_, &QSerialPort::errorOccurred, this, &PuertoSerieQt::alFallar);
}

PuertoSerieQt::~PuertoSerieQt() {
    if (abierto())
        cerrar();
    soltar();
}

void PuertoSerieQt::soltar() {
    en_uso_ = false;
    ruta_retenida_.clear();
    if (puerto_.isOpen())
        puerto_.close();
}

QString PuertoSerieQt::describirFalloApertura(const QString& ruta) const {
    // Through a link in the folder, the device it names (even one that is
    // not there): "COM1 → /dev/ttyUSB0".
    const QFileInfo enlace(QDir::current().absoluteFilePath(nombrePuerto()));
    const QString nombre =
        enlace.isSymLink() ? QStringLiteral("%1 → %2").arg(nombrePuerto(), enlace.symLinkTarget())
                           : QStringLiteral("%1 (%2)").arg(nombrePuerto(), ruta);
    const QFileInfo info(ruta);
    switch (puerto_.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("No existe el puerto %1: conecte el reloj o revise [COM_PORT] en "
                              "qv.ini")
            .arg(nombre);
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        if (vedado_por_politica(puerto_, ruta))
            return QStringLiteral("El sistema no deja abrir el puerto %1: lo impide una "
                                  "política de dispositivos (la de un servicio admite solo los "
                                  "adaptadores cuyo controlador estaba cargado cuando arrancó)")
                .arg(nombre);
        if (::access(QFile::encodeName(ruta).constData(), R_OK | W_OK) != 0)
            return QStringLiteral("Sin permiso para abrir el puerto %1: agregue su usuario al "
                                  "grupo dialout (sudo usermod -a -G dialout $USER) y vuelva a "
                                  "iniciar la sesión")
                .arg(nombre);
#endif
        if (const ProgramaEnElPuerto p = programa_en_el_puerto(ruta, carpetas_de_bloqueo());
            !p.programa.isEmpty())
            return texto_de_programa_en_el_puerto(p, nombre);
        if (const BloqueoAjeno b = bloqueo_ajeno(ruta, carpetas_de_bloqueo()); !b.archivo.isEmpty())
            return texto_de_bloqueo(b, nombre);
        return QStringLiteral("El puerto %1 está en uso por otro programa").arg(nombre);
    default:
        if (!info.exists())
            return QStringLiteral("No existe el puerto %1: conecte el reloj o revise "
                                  "[COM_PORT] en qv.ini")
                .arg(nombre);
        return QStringLiteral("No se pudo abrir el puerto %1: %2")
            .arg(nombre, puerto_.errorString());
    }
}

bool PuertoSerieQt::abrir() {
    QString ruta = PuertoSerie::ruta();
    const QFileInfo info(ruta);
    // A link in the working folder is opened through its target, so every
    // program locks the same device name.
    if (info.isSymLink() && !info.canonicalFilePath().isEmpty())
        ruta = info.canonicalFilePath();
    // The device held since the last exchange is used again, unless the
    // port now names another one or it went away meanwhile.
    if (puerto_.isOpen() && (ruta != ruta_retenida_ || colgado(puerto_)))
        soltar();
    if (!puerto_.isOpen()) {
        puerto_.setPortName(ruta);
        if (!puerto_.open(QIODevice::ReadWrite)) {
            setError(describirFalloApertura(ruta));
            if (vedado_por_politica(puerto_, ruta))
                emit vedado(ultimoError());
            return false;
        }
        ruta_retenida_ = ruta;
        anotar_carpeta(ruta);
    }
    const ConfigLinea& c = linea();
    const bool ok = puerto_.setBaudRate(c.baudios) &&
                    puerto_.setDataBits(static_cast<QSerialPort::DataBits>(c.datos)) &&
                    puerto_.setParity(paridad_qt(c.paridad)) &&
                    puerto_.setStopBits(parada_qt(c.parada)) &&
                    puerto_.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        setError(QStringLiteral("El puerto %1 (%2) no acepta la configuración \"%3\": %4")
                     .arg(nombrePuerto(), ruta, Settings(), puerto_.errorString()));
        soltar();
        return false;
    }
    puerto_.clear();
    en_uso_ = true;
    return true;
}

void PuertoSerieQt::cerrar() {
    // Bytes written before a close must reach the clock.
    QDeadlineTimer limite(kEsperaCierreMs);
    while (puerto_.bytesToWrite() > 0 && !limite.hasExpired()) {
        if (!puerto_.waitForBytesWritten(static_cast<int>(limite.remainingTime())))
            break;
    }
#ifdef Q_OS_UNIX
    const int fd = static_cast<int>(puerto_.handle());
    int pendientes = 0;
    while (fd >= 0 && ::ioctl(fd, TIOCOUTQ, &pendientes) == 0 && pendientes > 0 &&
           !limite.hasExpired())
        QThread::msleep(1);
#endif
    en_uso_ = false;
}

bool PuertoSerieQt::escribir(const QByteArray& datos) {
    const qint64 n = puerto_.write(datos);
    if (n != datos.size()) {
        setError(QStringLiteral("No se pudo escribir en el puerto %1: %2")
                     .arg(nombrePuerto(), puerto_.errorString()));
        return false;
    }
    // Hand the bytes to the driver now; the step timers set their spacing.
    puerto_.flush();
    return true;
}

QByteArray PuertoSerieQt::leer() {
    return puerto_.readAll();
}

void PuertoSerieQt::esperarDatos(int ms) {
    if (puerto_.isOpen() && puerto_.bytesAvailable() == 0)
        puerto_.waitForReadyRead(ms);
}

qint64 PuertoSerieQt::InBufferCount() const {
    return puerto_.bytesAvailable();
}

void PuertoSerieQt::alFallar(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ResourceError || !puerto_.isOpen())
        return;
    // Gone while only held: the next exchange's open says what is wrong.
    if (!en_uso_) {
        soltar();
        return;
    }
    QString descripcion;
    if (puerto_.errorString() == QString::fromLocal8Bit(std::strerror(EAGAIN))) {
        // The device takes nothing in: what waits to go out is dropped, or
        // closing would wait for it.
        puerto_.clear(QSerialPort::Output);
        descripcion = QStringLiteral("El reloj no lee lo que se le envía por el puerto %1: la "
                                     "cola de envío está llena")
                          .arg(nombrePuerto());
    } else {
        // The device went away (unplugged); later writes fail until it is back.
        descripcion =
            QStringLiteral("Se perdió el puerto %1: %2").arg(nombrePuerto(), puerto_.errorString());
    }
    setError(descripcion);
    soltar();
    emit perdido(descripcion);
}

QStringList carpetas_de_bloqueo() {
    QStringList r;
    for (const char* c : kCarpetasDeBloqueo)
        r << QString::fromLatin1(c);
    return r;
}

namespace {

#ifdef Q_OS_UNIX
// Whether `uid` may read and write the device by its mode, owner and groups
// (as the kernel would decide for a process of that user).
bool puede_abrir(uid_t uid, const struct stat& disp) {
    if (uid == 0 || disp.st_uid == uid)
        return uid == 0 || (disp.st_mode & 0600) == 0600;
    if ((disp.st_mode & 0006) == 0006)
        return true;
    if ((disp.st_mode & 0060) != 0060)
        return false;
    const passwd* pw = ::getpwuid(uid);
    if (pw == nullptr)
        return true; // unknown groups: it may
    int n = 64;
    std::vector<gid_t> grupos(static_cast<std::size_t>(n));
    if (::getgrouplist(pw->pw_name, pw->pw_gid, grupos.data(), &n) < 0) {
        grupos.resize(static_cast<std::size_t>(n));
        if (::getgrouplist(pw->pw_name, pw->pw_gid, grupos.data(), &n) < 0)
            return true;
    }
    grupos.resize(static_cast<std::size_t>(n));
    return std::find(grupos.begin(), grupos.end(), disp.st_gid) != grupos.end();
}
#endif

} // namespace

BloqueoAjeno bloqueo_ajeno(const QString& dispositivo, const QStringList& carpetas) {
    BloqueoAjeno b;
#ifdef Q_OS_UNIX
    for (const QString& carpeta : carpetas) {
        const QFileInfo bloqueo(carpeta + nombre_de_bloqueo(dispositivo));
        if (!bloqueo.exists() || bloqueo.ownerId() == ::geteuid())
            continue;
        b.archivo = bloqueo.absoluteFilePath();
        const uid_t dueno = bloqueo.ownerId();
        const passwd* pw = ::getpwuid(dueno);
        b.usuario = pw != nullptr ? QString::fromLocal8Bit(pw->pw_name) : QString::number(dueno);
        // Both conventions start with the number: Qt's "1234\n…" and the
        // older right-aligned "      1234\n".
        QFile f(b.archivo);
        if (f.open(QIODevice::ReadOnly))
            b.pid = f.readLine(32).trimmed().toLongLong();
        if (b.pid > 0) {
            b.vive = vive(b.pid);
            QFile comm(QStringLiteral("/proc/%1/comm").arg(b.pid));
            if (b.vive && comm.open(QIODevice::ReadOnly))
                b.proceso = QString::fromLocal8Bit(comm.readAll().trimmed());
        }
        struct stat disp {};
        b.dueno_sin_acceso = ::stat(QFile::encodeName(dispositivo).constData(), &disp) == 0 &&
                             !puede_abrir(dueno, disp);
        return b;
    }
#else
    Q_UNUSED(dispositivo)
    Q_UNUSED(carpetas)
#endif
    return b;
}

QString texto_de_bloqueo(const BloqueoAjeno& b, const QString& puerto) {
    const QString proceso =
        b.pid <= 0 ? QStringLiteral("sin número de proceso legible")
        : b.vive   ? QStringLiteral("proceso %1%2")
                       .arg(b.pid)
                       .arg(b.proceso.isEmpty() ? QString() : QStringLiteral(", ") + b.proceso)
                 : QStringLiteral("proceso %1, que ya no existe").arg(b.pid);
    const QString porque =
        b.dueno_sin_acceso
            ? QStringLiteral("ese usuario no tiene permiso para usar el puerto, así que el "
                             "bloqueo no protege ningún uso real")
            : QStringLiteral("si ningún programa usa el puerto");
    return QStringLiteral("El archivo de bloqueo %1, del usuario %2 (%3), impide abrir el puerto "
                          "%4: %5, un administrador puede borrarlo (sudo rm %1)")
        .arg(b.archivo, b.usuario, proceso, puerto, porque);
}

ProgramaEnElPuerto programa_en_el_puerto(const QString& dispositivo, const QStringList& carpetas) {
    ProgramaEnElPuerto p;
#ifdef Q_OS_UNIX
    for (const QString& carpeta : carpetas) {
        QFile bloqueo(carpeta + nombre_de_bloqueo(dispositivo));
        if (!bloqueo.open(QIODevice::ReadOnly))
            continue;
        // Qt's lines: process, program, machine...; then ours.
        const QList<QByteArray> lineas = bloqueo.read(8192).split('\n');
        const qint64 pid = lineas.value(0).trimmed().toLongLong();
        const auto valor = [&lineas](const char* clave) {
            for (const QByteArray& l : lineas)
                if (l.startsWith(clave))
                    return QString::fromUtf8(l.mid(int(std::strlen(clave))));
            return QString();
        };
        p.carpeta = valor(kCarpetaEnBloqueo);
        if (!p.carpeta.isEmpty() && vive(pid)) {
            p.programa = valor(kProgramaEnBloqueo);
            if (p.programa.isEmpty())
                p.programa = QStringLiteral("otro Quarvel");
            p.pid = pid;
            if (const uint dueno = QFileInfo(bloqueo).ownerId(); dueno != ::geteuid()) {
                const passwd* pw = ::getpwuid(dueno);
                p.usuario =
                    pw != nullptr ? QString::fromLocal8Bit(pw->pw_name) : QString::number(dueno);
            }
            return p;
        }
        return {};
    }
#else
    Q_UNUSED(dispositivo)
    Q_UNUSED(carpetas)
#endif
    return p;
}

QString texto_de_programa_en_el_puerto(const ProgramaEnElPuerto& p, const QString& puerto) {
    const QString usuario =
        p.usuario.isEmpty() ? QString() : QStringLiteral(", del usuario %1").arg(p.usuario);
    return QStringLiteral("El puerto %1 ya lo usa %2 (proceso %3%4) en la carpeta %5: un reloj, "
                          "un solo programa; este no lo usará mientras aquel siga en marcha")
        .arg(puerto, p.programa)
        .arg(p.pid)
        .arg(usuario, p.carpeta);
}

} // namespace quarvel
