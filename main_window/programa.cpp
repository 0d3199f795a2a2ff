#include "main_window/programa.h"

#include "clock_link/puerto_serie_qt.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "settings/gui/form2.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>
#include <QThread>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace quarvel {

namespace {

// How long a second start tries to reach the first (which may be starting).
constexpr int kEsperaPrimeraMs = 3000;
const QByteArray kPedidoMostrar = "mostrar\n";

QString plataforma(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

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

extern "C" void al_recibir_senal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(tubo_senales[1], &c, 1);
}

} // namespace

bool hay_pantalla(int argc, char** argv) {
    const QString en = plataforma(argc, argv);
    if (en.isEmpty())
        return hay_wayland() || hay_x11();
    for (const QString& una : en.split(u';')) {
        if (una.startsWith(QStringLiteral("xcb"))       ? hay_x11()
            : una.startsWith(QStringLiteral("wayland")) ? hay_wayland()
                                                        : true)
            return true;
    }
    return false;
}

std::optional<int> atender_linea_de_ordenes(int argc, char** argv, const Programa& p) {
    QCoreApplication::setApplicationName(p.nombre);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION));
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser linea;
    linea.setApplicationDescription(p.descripcion);
    const QCommandLineOption ayuda = linea.addHelpOption();
    const QCommandLineOption version = linea.addVersionOption();
    // Qt's own options (-platform, -style...) are for Qt.
    linea.parse(args);
    if (linea.isSet(ayuda)) {
        // Without an application yet, Qt does not know the command's name.
        std::fputs(
            qPrintable(linea.helpText().replace(QStringLiteral("<executable_name>"), p.nombre)),
            stdout);
        return 0;
    }
    if (linea.isSet(version)) {
        std::printf("%s %s\n", qPrintable(p.nombre), QUARVEL_VERSION);
        return 0;
    }
    // Qt would abort, leaving a core, where no display can be opened.
    if (!hay_pantalla(argc, argv)) {
        std::fprintf(stderr,
                     "%s: no hay pantalla que abrir (DISPLAY y WAYLAND_DISPLAY); arranquelo "
                     "desde el escritorio\n",
                     qPrintable(p.nombre));
        return 1;
    }
    return std::nullopt;
}

// Name and version are set with the command line, before.
void preparar_aplicacion(const Programa& p) {
    QApplication::setDesktopFileName(p.escritorio);
    QApplication::setWindowIcon(icono_programa());
}

QString nombre_de_servidor(const QString& nombre, const QString& carpeta) {
    const QByteArray clave =
        QFileInfo(carpeta).canonicalFilePath().toUtf8() + '\0' + QByteArray::number(::getuid());
    return QStringLiteral("quarvel-%1-%2")
        .arg(nombre,
             QString::fromLatin1(
                 QCryptographicHash::hash(clave, QCryptographicHash::Sha1).toHex().left(16)));
}

InstanciaUnica::InstanciaUnica(const QString& nombre, QObject* parent)
    : QObject(parent)
    , bloqueo_(std::make_unique<QLockFile>(
          QDir::current().absoluteFilePath(QStringLiteral(".%1.lock").arg(nombre)))) {
    const QString servidor = nombre_de_servidor(nombre, QDir::currentPath());
    // Only a dead owner makes a lock stale, however old it is.
    bloqueo_->setStaleLockTime(0);
    if (!bloqueo_->tryLock(0)) {
        if (bloqueo_->error() != QLockFile::LockFailedError)
            return; // No lock here (a read-only folder): unguarded.
        otra_ = true;
        QLocalSocket primera;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kEsperaPrimeraMs) {
            primera.connectToServer(servidor);
            if (primera.waitForConnected(500)) {
                primera.write(kPedidoMostrar);
                primera.waitForBytesWritten(1000);
                primera.disconnectFromServer();
                return;
            }
            QThread::msleep(100);
        }
        return;
    }
    servidor_ = new QLocalServer(this);
    servidor_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    servidor_->listen(servidor);
    connect(servidor_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* otra = servidor_->nextPendingConnection()) {
            connect(otra, &QLocalSocket::readyRead, this, [this, otra] {
                if (otra->readAll().contains(kPedidoMostrar))
                    emit mostrar();
            });
            connect(otra, &QLocalSocket::disconnected, otra, &QObject::deleteLater);
        }
    });
}

InstanciaUnica::~InstanciaUnica() = default;

int ejecutar(int argc, char** argv, const Programa& p,
             const std::function<std::unique_ptr<VentanaPrincipal>(const Entorno&)>& crear) {
    if (const auto salida = atender_linea_de_ordenes(argc, argv, p))
        return *salida;
    QApplication app(argc, argv);
    preparar_aplicacion(p);
    // The window ends the program, never a message box or the configuration
    // window closing while it lives hidden in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    InstanciaUnica unica(p.nombre);
    if (unica.otraEnMarcha())
        return 0;

    PuertoSerieQt puerto;
    HoraDelSistema hora;
    CajaMensajesQt mensajes;
    const Entorno entorno{&puerto, &hora, &mensajes,
                          [&mensajes](QWidget* padre) { abrir_configuracion(mensajes, padre); }};
    const std::unique_ptr<VentanaPrincipal> ventana = crear(entorno);
    // Closed (a signal, say) while start-up still shows a message: the loop
    // that was to run is over before it starts.
    bool cerrada = false;
    QObject::connect(ventana.get(), &VentanaPrincipal::cerrada, &app, [&cerrada] {
        cerrada = true;
        // exit, not quit: a message box's own loop must end too.
        QApplication::exit(0);
    });
    QObject::connect(&unica, &InstanciaUnica::mostrar, ventana.get(),
                     &VentanaPrincipal::volverAMostrar);
    cerrar_con_senales(ventana.get());
    ventana->Form_Load();
    if (cerrada)
        return 0;
    centrar(ventana.get());
    if (!ventana->enBandeja())
        ventana->show();
    return QApplication::exec();
}

void cerrar_con_senales(VentanaPrincipal* ventana) {
    if (tubo_senales[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, tubo_senales) != 0)
        return;
    auto* aviso = new QSocketNotifier(tubo_senales[0], QSocketNotifier::Read, ventana);
    QObject::connect(aviso, &QSocketNotifier::activated, ventana, [ventana] {
        char c = 0;
        [[maybe_unused]] const ssize_t n = ::read(tubo_senales[0], &c, 1);
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
    for (int senal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(senal, &accion, nullptr);
}

} // namespace quarvel
