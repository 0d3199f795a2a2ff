#include "main_window/programa.h"
#include "main_window/programa_sistema.h"

#include "clock_link/puerto_serie_qt.h"
#include "platform/diario.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <QSysInfo>
#include <cerrno>
#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace quarvel {

namespace {

bool hay_x11() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool abierta = xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    return abierta;
}

bool hay_wayland() {
    const QString nombre = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    const QString ruta =
        nombre.startsWith(u'/') ? nombre : qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + nombre;
    return !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo::exists(ruta);
}

int tubo_senales[2] = {-1, -1};

// What the signal asks of the window: to close, or to check now.
constexpr char kCerrar = 1;
constexpr char kChequear = 2;

extern "C" void al_recibir_senal(int senal) {
    const char c = senal == SIGUSR1 ? kChequear : kCerrar;
    [[maybe_unused]] const ssize_t n = ::write(tubo_senales[1], &c, 1);
}

// A folder only this user can use, or empty.
QString carpeta_propia(const QString& ruta) {
    struct stat st {};
    if (::lstat(QFile::encodeName(ruta).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
        return {};
    return ruta;
}

QString carpeta_de_sockets() {
    if (QString xdg = carpeta_propia(qEnvironmentVariable("XDG_RUNTIME_DIR")); !xdg.isEmpty())
        return xdg;
    // In the shared temporary folder another user may have made our name
    // first (or left it writable): the first of a few names that is ours
    // alone, the same for every start of ours, so a second start still
    // finds the first.
    const QString base = QDir::tempPath() + QStringLiteral("/quarvel-%1").arg(::getuid());
    for (int n = 0; n < 16; ++n) {
        const QString tmp = n == 0 ? base : base + QStringLiteral("-%1").arg(n);
        ::mkdir(QFile::encodeName(tmp).constData(), 0700);
        if (QString propia = carpeta_propia(tmp); !propia.isEmpty()) {
            static bool dicho = false;
            if (n > 0 && !dicho) {
                diario(Prioridad::Aviso,
                       QStringLiteral("%1 no es una carpeta solo de este usuario: se usa %2")
                           .arg(base, tmp));
                dicho = true;
            }
            return propia;
        }
    }
    return {};
}

} // namespace

bool es_esta_maquina(const QString& nombre) {
    return nombre == QSysInfo::machineHostName();
}

bool hay_pantalla_en(const QString& plataforma) {
    if (plataforma.isEmpty())
        return hay_wayland() || hay_x11();
    return plataforma.startsWith(QStringLiteral("xcb"))       ? hay_x11()
           : plataforma.startsWith(QStringLiteral("wayland")) ? hay_wayland()
                                                              : true;
}

bool proceso_propio(qint64 pid) {
    struct stat st {};
    return ::stat(QFile::encodeName(QStringLiteral("/proc/%1").arg(pid)).constData(), &st) == 0 &&
           st.st_uid == ::getuid();
}

bool proceso_vivo(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

QString nombre_de_servidor(const QString& nombre, const QString& carpeta) {
    const QString sockets = carpeta_de_sockets();
    if (sockets.isEmpty())
        return {};
    const QByteArray clave =
        QFileInfo(carpeta).canonicalFilePath().toUtf8() + '\0' + QByteArray::number(::getuid());
    return sockets +
           QStringLiteral("/quarvel-%1-%2")
               .arg(
                   nombre,
                   QString::fromLatin1(
                       QCryptographicHash::hash(clave, QCryptographicHash::Sha1).toHex().left(16)));
}

std::shared_ptr<void> tomar_exclusion(const QString& servidor) {
    // Beside the socket, in a folder that is the user's alone.
    auto bloqueo = std::make_shared<QLockFile>(servidor + QStringLiteral(".lock"));
    bloqueo->setStaleLockTime(0);
    if (bloqueo->tryLock(0) || (bloqueo->error() == QLockFile::LockFailedError &&
                                bloqueo->removeStaleLockFile() && bloqueo->tryLock(0)))
        return bloqueo;
    // Not even there: nothing to decide by, so it runs as before.
    if (bloqueo->error() != QLockFile::LockFailedError)
        return std::make_shared<int>(0);
    return nullptr;
}

// A service's environment may be empty: Qt draws off screen, and its notes
// about what a desktop would have (a runtime folder) are not events.
QString como_terminar_sin_ventana() {
    return QStringLiteral("SIGTERM");
}

QString como_parar_sin_ventana() {
    return QStringLiteral("systemctl --user stop quarvel430");
}

void preparar_consola() {
    // stdout and stderr are the terminal's or the journal's already.
}

void preparar_pantalla() {
    // Qt's own choice of platform and fonts serves.
}

void preparar_sin_ventana() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        // Qt warns on every start without one; a private one under /tmp does.
        const QString propia = QStringLiteral("/tmp/quarvel-%1").arg(::getuid());
        ::mkdir(QFile::encodeName(propia).constData(), 0700);
        if (!carpeta_propia(propia).isEmpty())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(propia));
    }
    // A service user's home may be read-only: font caches go to the runtime
    // folder rather than a complaint on every start.
    const QByteArray casa = qgetenv("HOME");
    if (qEnvironmentVariableIsEmpty("XDG_CACHE_HOME") && !casa.isEmpty() &&
        ::access(casa.constData(), W_OK) != 0 && !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_CACHE_HOME", qgetenv("XDG_RUNTIME_DIR") + "/cache");
}

QString carpeta_de_usuario() {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as XDG says.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(base)) {
        const QString casa = qEnvironmentVariable("HOME");
        if (casa.isEmpty())
            return {};
        base = casa + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/quarvel");
}

std::unique_ptr<PuertoSerie> crear_puerto_real() {
    return std::make_unique<PuertoSerieQt>();
}

void cerrar_con_senales(VentanaPrincipal* ventana) {
    if (tubo_senales[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, tubo_senales) != 0)
        return;
    auto* aviso = new QSocketNotifier(tubo_senales[0], QSocketNotifier::Read, ventana);
    QObject::connect(aviso, &QSocketNotifier::activated, ventana, [ventana] {
        char c = 0;
        [[maybe_unused]] const ssize_t n = ::read(tubo_senales[0], &c, 1);
        if (c == kChequear) {
            ventana->chequear_pronto();
            return;
        }
        // Closing already (a box of its own waits for a click): end now.
        if (ventana->cerrando())
            QApplication::exit(0);
        else
            ventana->cerrarSinPreguntar();
    });
    struct sigaction accion {};
    accion.sa_handler = al_recibir_senal;
    sigemptyset(&accion.sa_mask);
    accion.sa_flags = SA_RESTART;
    for (int senal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        ::sigaction(senal, &accion, nullptr);
}

} // namespace quarvel
