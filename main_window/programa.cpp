#include "main_window/programa.h"

#include "clock_link/metricas.h"
#include "clock_link/puerto_serie.h"
#include "main_window/programa_sistema.h"
#include "platform/archivos.h"
#include "platform/diario.h"
#include "platform/fallo.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "settings/gui/form2.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLocale>
#include <QLockFile>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <cstdio>
#include <utility>

namespace quarvel {

namespace {

// How long a second start tries to reach the first (which may be starting).
constexpr int kEsperaPrimeraMs = 3000;
const QByteArray kPedidoMostrar = "mostrar\n";
const QByteArray kPedidoComprobar = "comprobar\n";
const QByteArray kPedidoSalir = "salir\n";
const QByteArray kSaliendo = "saliendo\n";
// How long --salir waits for the one asked to close to be gone: its unload
// may be waiting for a read-back's reply.
constexpr int kEsperaSalidaMs = 30000;
const QByteArray kSinVentana = "sin-ventana\n";
const QByteArray kLecturaPedida = "lectura-pedida\n";

QString plataforma(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

} // namespace

bool hay_pantalla(int argc, char** argv) {
    const QString en = plataforma(argc, argv);
    if (en.isEmpty())
        return hay_pantalla_en(QString());
    for (const QString& una : en.split(u';')) {
        if (hay_pantalla_en(una))
            return true;
    }
    return false;
}

namespace {

// Qt's own options, which QApplication takes: with a value, and without.
const QStringList kOpcionesQtConValor = {
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("style"),
    QStringLiteral("stylesheet"),      QStringLiteral("session"),
    QStringLiteral("display"),         QStringLiteral("geometry"),
    QStringLiteral("title"),           QStringLiteral("name"),
    QStringLiteral("qmljsdebugger"),
};
const QStringList kOpcionesQtSolas = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"), QStringLiteral("dograb"),
                                      QStringLiteral("sync")};

} // namespace

namespace {
void sembrar_ajustes();
} // namespace

QString usar_carpeta_de_usuario() {
    const QString carpeta = carpeta_de_usuario();
    // The reason in Spanish, whatever the locale: the system's own words
    // would come in the machine's language.
    const QString dicha = QDir::toNativeSeparators(carpeta);
    const QFileInfo info(carpeta);
    if (carpeta.isEmpty())
        return QStringLiteral("no se sabe cuál es la carpeta del usuario (no hay HOME)");
    if ((info.exists() || info.isSymLink()) && !info.isDir())
        return QStringLiteral("no se pudo usar la carpeta del usuario «%1»: en su lugar hay %2; "
                              "quítelo o muévalo")
            .arg(dicha, info.isSymLink() ? QStringLiteral("un enlace roto")
                                         : QStringLiteral("un archivo, no una carpeta"));
    if (!QDir().mkpath(carpeta)) {
        // The nearest thing that stands on the way tells why.
        QFileInfo arriba(QFileInfo(carpeta).absolutePath());
        while (!arriba.exists() && !arriba.isRoot())
            arriba = QFileInfo(arriba.absolutePath());
        if (arriba.exists() && !arriba.isDir())
            return QStringLiteral("no se pudo crear la carpeta del usuario «%1»: «%2» es un "
                                  "archivo, no una carpeta")
                .arg(dicha, QDir::toNativeSeparators(arriba.filePath()));
        return QStringLiteral("no se pudo crear la carpeta del usuario «%1»: sin permiso para "
                              "escribir en «%2», o el disco no lo admite")
            .arg(dicha, QDir::toNativeSeparators(arriba.filePath()));
    }
    if (!QDir::setCurrent(carpeta))
        return QStringLiteral("no se pudo entrar en la carpeta del usuario «%1»: sin permiso")
            .arg(dicha);
    sembrar_ajustes();
    return {};
}

namespace {

// Ready settings where there are none: port 1 at 9600 bauds, 100 ms
// between the set's commands, a read-back every 5 minutes. Created
// exclusively, so a file that exists (or appears meanwhile) stays.
void sembrar_ajustes() {
    QByteArray qv = "[COM_PORT]\r\n1\r\n\r\n[COM_CFG]\r\n9600,N,8,1\r\n";
    for (int t = 1; t <= 7; ++t)
        qv += "\r\n[T" + QByteArray::number(t) + "]\r\n 100 \r\n";
    const std::pair<const char*, QByteArray> listos[] = {{"qv.ini", qv}, {"qv_int.ini", "5\r\n"}};
    for (const auto& [nombre, texto] : listos) {
        QFile f(QString::fromLatin1(nombre));
        if (!f.exists() && f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            f.write(texto);
    }
}

#ifdef Q_OS_WIN
// A service's name is part of a folder's and of the manager's: letters,
// digits, '-', '_' and '.'.
bool nombre_de_servicio_valido(const QString& nombre) {
    if (nombre.isEmpty() || nombre.size() > 64 || nombre.startsWith(u'.'))
        return false;
    for (const QChar c : nombre)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_' && c != u'.')
            return false;
    return true;
}

// The service's folder, made and seeded; empty when done, otherwise why not.
QString preparar_carpeta_de_servicio(const QString& nombre) {
    const QString carpeta = carpeta_de_servicio(nombre);
    if (!QDir().mkpath(carpeta) || !QDir::setCurrent(carpeta))
        return QStringLiteral("no se pudo crear ni usar la carpeta del servicio «%1»")
            .arg(QDir::toNativeSeparators(carpeta));
    sembrar_ajustes();
    return {};
}
#endif

} // namespace

std::optional<int> atender_linea_de_ordenes(int argc, char** argv, const Programa& p,
                                            OpcionesDeArranque* opciones) {
    QCoreApplication::setApplicationName(p.nombre);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION));
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser linea;
    linea.setApplicationDescription(p.descripcion);
    // Without --help-all: Qt's own options are not this program's to list.
    const QCommandLineOption ayuda({QStringLiteral("h"), QStringLiteral("help")},
                                   QStringLiteral("Muestra esta ayuda."));
    linea.addOption(ayuda);
    const QCommandLineOption version = linea.addVersionOption();
    const QCommandLineOption sin_ventana(
        QStringLiteral("sin-ventana"),
        QStringLiteral("Sin pantalla ni ventana ni bandeja (un servicio): el mismo chequeo, "
                       "con los avisos en el diario (stderr); termina con %1.")
            .arg(como_terminar_sin_ventana()));
    const QCommandLineOption comprobar(
        QStringLiteral("comprobar"),
        QStringLiteral("Pide al que está en marcha en esta carpeta una lectura del reloj en "
                       "cuanto sea seguro (del segundo 10 al 50), además de la del segundo 31, "
                       "y termina."));
    const QCommandLineOption con_ventana(
        QStringLiteral("con-ventana"),
        QStringLiteral("Muestra la ventana al arrancar aunque haya bandeja; el icono queda en "
                       "la bandeja igual."));
    const QCommandLineOption metricas(
        QStringLiteral("metricas"),
        QStringLiteral("Tras cada lectura escribe las métricas del reloj en <carpeta>, en el "
                       "formato de textfile de prometheus-node-exporter."),
        QStringLiteral("carpeta"));
    const QCommandLineOption salir(
        QStringLiteral("salir"),
        QStringLiteral("Pide al que está en marcha en esta carpeta que se cierre como al cerrar "
                       "su ventana, espera a que termine (hasta 30 s) y termina; si no hay "
                       "ninguno, termina sin más."));
    const QCommandLineOption de_usuario(
        QStringLiteral("carpeta-de-usuario"),
        QStringLiteral("Trabaja en la carpeta del usuario (%1), creándola con qv.ini y "
                       "qv_int.ini listos si faltan; nunca los sobrescribe.")
            .arg(QDir::toNativeSeparators(carpeta_de_usuario())));
    linea.addOption(de_usuario);
    linea.addOption(salir);
    if (p.servicio) {
        linea.addOption(sin_ventana);
        linea.addOption(con_ventana);
        linea.addOption(comprobar);
        linea.addOption(metricas);
    }
#ifdef Q_OS_WIN
    const QCommandLineOption servicio(
        QStringLiteral("servicio"),
        QStringLiteral("Para el administrador de servicios de Windows: el chequeo sin ventana "
                       "en la carpeta Quarvel/<nombre> de %ProgramData%, con el diario en su "
                       "Quarvel430.log."),
        QStringLiteral("nombre"));
    const QCommandLineOption instalar(
        QStringLiteral("instalar-servicio"),
        QStringLiteral("Registra el servicio %1@<nombre>, que arranca con Windows sin que "
                       "nadie entre en la sesión, y prepara su carpeta (como administrador).")
            .arg(p.nombre),
        QStringLiteral("nombre"));
    const QCommandLineOption quitar(
        QStringLiteral("quitar-servicio"),
        QStringLiteral("Para y quita el servicio %1@<nombre>; su carpeta queda (como "
                       "administrador).")
            .arg(p.nombre),
        QStringLiteral("nombre"));
    if (p.servicio) {
        linea.addOption(servicio);
        linea.addOption(instalar);
        linea.addOption(quitar);
    }
#endif
    // Qt's own options (-platform, -style...) are for Qt: known, not listed.
    for (const QString& o : kOpcionesQtConValor) {
        QCommandLineOption qt(o, QString(), QStringLiteral("valor"));
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        linea.addOption(qt);
    }
    for (const QString& o : kOpcionesQtSolas) {
        QCommandLineOption qt(o);
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        linea.addOption(qt);
    }
    linea.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool entendida = linea.parse(args);
    if (linea.isSet(ayuda)) {
        // Written here, all in Spanish: Qt's own help text is English.
        QString texto =
            QStringLiteral("Uso: %1 [opciones]\n%2\n\nOpciones:\n").arg(p.nombre, p.descripcion);
        const auto opcion = [&texto](const QString& nombres, const QString& que) {
            texto += QStringLiteral("  %1\n      %2\n").arg(nombres, que);
        };
        opcion(QStringLiteral("-h, --help"), QStringLiteral("Muestra esta ayuda."));
        opcion(QStringLiteral("-v, --version"), QStringLiteral("Muestra la versión."));
        opcion(QStringLiteral("--carpeta-de-usuario"), de_usuario.description());
        opcion(QStringLiteral("--salir"), salir.description());
        if (p.servicio) {
            opcion(QStringLiteral("--sin-ventana"), sin_ventana.description());
            opcion(QStringLiteral("--con-ventana"), con_ventana.description());
            opcion(QStringLiteral("--comprobar"), comprobar.description());
            opcion(QStringLiteral("--metricas <carpeta>"), metricas.description());
#ifdef Q_OS_WIN
            opcion(QStringLiteral("--servicio <nombre>"), servicio.description());
            opcion(QStringLiteral("--instalar-servicio <nombre>"), instalar.description());
            opcion(QStringLiteral("--quitar-servicio <nombre>"), quitar.description());
#endif
        }
        std::fputs(texto.toUtf8().constData(), stdout);
        return 0;
    }
    if (linea.isSet(version)) {
        std::printf("%s %s\n", qPrintable(p.nombre), QUARVEL_VERSION);
        return 0;
    }
    if (!entendida || !linea.positionalArguments().isEmpty()) {
        // Qt's own error texts are English: said here instead.
        QString error;
        if (entendida)
            error = QStringLiteral("argumento de más: «%1»")
                        .arg(linea.positionalArguments().constFirst());
        else if (!linea.unknownOptionNames().isEmpty())
            error = QStringLiteral("opción desconocida: «%1»")
                        .arg(linea.unknownOptionNames().constFirst());
        else
            error = QStringLiteral("opción sin su valor o con uno que no lleva");
        std::fprintf(stderr, "%s: %s (vea %s --help)\n", qPrintable(p.nombre),
                     error.toUtf8().constData(), qPrintable(p.nombre));
        return 2;
    }
#ifdef Q_OS_WIN
    QString como_servicio;
    if (p.servicio) {
        for (const QCommandLineOption* o : {&servicio, &instalar, &quitar}) {
            if (linea.isSet(*o) && !nombre_de_servicio_valido(linea.value(*o))) {
                std::fprintf(stderr,
                             "%s: nombre de servicio no válido: «%s» (letras, cifras, '-', '_' "
                             "y '.')\n",
                             qPrintable(p.nombre), linea.value(*o).toUtf8().constData());
                return 2;
            }
        }
        const auto de_servicio = [&p](const QString& nombre) {
            return QStringLiteral("%1@%2").arg(p.nombre, nombre);
        };
        if (linea.isSet(quitar))
            return quitar_servicio(de_servicio(linea.value(quitar)));
        if (linea.isSet(instalar)) {
            const QString nombre = linea.value(instalar);
            // Whole, as seen from here: the service starts in its own folder.
            const QString carpeta_metricas =
                QDir::toNativeSeparators(QDir(linea.value(metricas)).absolutePath());
            if (const QString fallo = preparar_carpeta_de_servicio(nombre); !fallo.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(p.nombre), fallo.toUtf8().constData());
                return 1;
            }
            QString orden = QStringLiteral("--servicio %1").arg(nombre);
            if (linea.isSet(metricas))
                orden =
                    QStringList{orden, QStringLiteral("--metricas"), u'"' + carpeta_metricas + u'"'}
                        .join(u' ');
            return instalar_servicio(de_servicio(nombre),
                                     QStringLiteral("Quarvel 4.3 (%1)").arg(nombre), orden);
        }
        if (linea.isSet(servicio)) {
            const QString nombre = linea.value(servicio);
            if (const QString fallo = preparar_carpeta_de_servicio(nombre); !fallo.isEmpty()) {
                std::fprintf(stderr, "<3>%s: %s\n", qPrintable(p.nombre),
                             fallo.toUtf8().constData());
                return 1;
            }
            if (!conectar_servicio(de_servicio(nombre))) {
                std::fprintf(stderr,
                             "%s: --servicio es para el administrador de servicios de Windows; "
                             "regístrelo con --instalar-servicio %s\n",
                             qPrintable(p.nombre), nombre.toUtf8().constData());
                return 1;
            }
            como_servicio = nombre;
        }
    }
    const bool pide_salir = linea.isSet(salir) && como_servicio.isEmpty();
#else
    const bool pide_salir = linea.isSet(salir);
#endif
    // Closing one that runs makes no folder: none there, none runs there.
    if (linea.isSet(de_usuario) && pide_salir) {
        const QString carpeta = carpeta_de_usuario();
        if (carpeta.isEmpty() || !QFileInfo(carpeta).isDir() || !QDir::setCurrent(carpeta)) {
            std::printf("%s: no está en marcha en %s; nada que cerrar\n", qPrintable(p.nombre),
                        QDir::toNativeSeparators(carpeta).toUtf8().constData());
            return 0;
        }
    } else if (linea.isSet(de_usuario)) {
        if (const QString fallo = usar_carpeta_de_usuario(); !fallo.isEmpty()) {
            std::fprintf(stderr, "<3>%s: %s\n", qPrintable(p.nombre), fallo.toUtf8().constData());
            return 1;
        }
    }
    // Asking for a read-back needs no display either.
    const bool pide_lectura = p.servicio && linea.isSet(comprobar);
    bool sin_pantalla = pide_salir || (p.servicio && (linea.isSet(sin_ventana) || pide_lectura));
#ifdef Q_OS_WIN
    sin_pantalla = sin_pantalla || !como_servicio.isEmpty();
    if (opciones != nullptr)
        opciones->servicio = como_servicio;
#endif
    // The metrics folder is shared by every clock: a clock's own folder
    // there (an instance named after it) would mix the two.
    if (p.servicio && linea.isSet(metricas) &&
        QFileInfo(linea.value(metricas)).canonicalFilePath() == QDir::current().canonicalPath()) {
        std::fprintf(stderr,
                     "<3>%s: la carpeta de las métricas, %s, no puede ser la del reloj (la de "
                     "trabajo): use otra para el reloj\n",
                     qPrintable(p.nombre), QDir::currentPath().toUtf8().constData());
        return 2;
    }
    if (opciones != nullptr)
        opciones->salir = pide_salir;
    if (opciones != nullptr && p.servicio) {
        opciones->sin_ventana = sin_pantalla;
        opciones->con_ventana = !sin_pantalla && linea.isSet(con_ventana);
        opciones->comprobar = pide_lectura;
        opciones->metricas = linea.value(metricas);
    }
    // Qt would abort, leaving a core, where no display can be opened.
    if (!sin_pantalla && !hay_pantalla(argc, argv)) {
        std::fprintf(stderr,
                     "%s: no hay pantalla que abrir (DISPLAY y WAYLAND_DISPLAY); arránquelo "
                     "desde el escritorio%s\n",
                     qPrintable(p.nombre),
                     p.servicio ? ", o con --sin-ventana para chequear sin ventana" : "");
        return 1;
    }
    return std::nullopt;
}

// Name and version are set with the command line, before.
void preparar_aplicacion(const Programa& p) {
    QApplication::setDesktopFileName(p.escritorio);
    QApplication::setWindowIcon(icono_programa());
    // Qt's own words (a message box's buttons, a spin box's menu) in Spanish
    // too, where Qt's translations are installed.
    auto* qt = new QTranslator(qApp);
    if (qt->load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"),
                 QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
}

namespace {

// Connections a running program serves at once, what it reads of one, and
// how long one may stay.
constexpr int kConexionesMaximas = 8;
constexpr qint64 kLecturaMaxima = 64;
constexpr int kConexionMaximaMs = 2000;
// How often it makes sure it still listens (an accept that failed, with
// every descriptor taken, stops Qt's server).
constexpr int kVigilanciaMs = 5000;

} // namespace

InstanciaUnica::InstanciaUnica(const QString& nombre, QObject* parent, bool sin_ventana,
                               Pedido pedido)
    : QObject(parent)
    , bloqueo_(std::make_unique<QLockFile>(
          QDir::current().absoluteFilePath(QStringLiteral(".%1.lock").arg(nombre))))
    , ruta_(nombre_de_servidor(nombre, QDir::currentPath()))
    , sin_ventana_(sin_ventana)
    , pedido_(pedido) {
    // Only a dead owner makes a lock stale, however old it is.
    bloqueo_->setStaleLockTime(0);
    if (bloqueo_->tryLock(0)) {
        escuchar();
        return;
    }
    if (bloqueo_->error() != QLockFile::LockFailedError) {
        // No lock here (a read-only folder): the server's name still keeps
        // a second start out, or two would fight over the port.
        sin_escritura_ = true;
        if (ruta_.isEmpty())
            return;
        exclusion_ = tomar_exclusion(ruta_);
        if (exclusion_ != nullptr) {
            escuchar();
            return;
        }
        otra_ = true;
        avisar_a_la_primera();
        return;
    }
    qint64 pid = 0;
    QString maquina;
    QString programa;
    // A lock caught while its owner still writes it says nothing yet.
    for (int i = 0; i < 10 && !(bloqueo_->getLockInfo(&pid, &maquina, &programa) && pid > 0); ++i)
        QThread::msleep(50);
    // Still nothing in it: a start killed while writing it (a stop right
    // after a start) leaves it empty, and every later start would take it
    // for one starting. Removed only if no living owner holds it (Qt keeps
    // a lock on it while its owner runs).
    if (pid <= 0 && bloqueo_->removeStaleLockFile() && bloqueo_->tryLock(0)) {
        escuchar();
        return;
    }
    if (pid <= 0 || (!maquina.isEmpty() && !es_esta_maquina(maquina))) {
        // Nothing to tell by: taken as a first instance that is starting.
        otra_ = true;
        avisar_a_la_primera();
        return;
    }
    const QString lock = QStringLiteral(".%1.lock").arg(nombre);
    const bool vivo = proceso_vivo(pid);
    // Left by a program that ended (on Windows maybe one whose number this
    // one has now): taken over when it may be removed.
    if (!vivo && bloqueo_->removeStaleLockFile() && bloqueo_->tryLock(0)) {
        escuchar();
        return;
    }
    if (!vivo && pid != QCoreApplication::applicationPid()) {
        impedimento_ = QStringLiteral("El bloqueo \"%1\" de esta carpeta quedó de un programa ya "
                                      "terminado (proceso %2) y no se puede quitar: es de otro "
                                      "usuario. Bórrelo (rm %1) y arranque de nuevo.")
                           .arg(lock)
                           .arg(pid);
        return;
    }
    if (!proceso_propio(pid)) {
        impedimento_ = QStringLiteral("%1 ya está en marcha en esta carpeta, como otro usuario "
                                      "(proceso %2, bloqueo \"%3\").")
                           .arg(nombre)
                           .arg(pid)
                           .arg(lock);
        return;
    }
    otra_ = true;
    avisar_a_la_primera();
}

void InstanciaUnica::avisar_a_la_primera() {
    if (ruta_.isEmpty())
        return;
    // The first may still be starting: it listens right after its lock.
    QLocalSocket primera;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < kEsperaPrimeraMs) {
        primera.connectToServer(ruta_);
        if (primera.waitForConnected(200)) {
            primera.write(pedido_ == Pedido::Comprobar ? kPedidoComprobar
                          : pedido_ == Pedido::Salir   ? kPedidoSalir
                                                       : kPedidoMostrar);
            primera.waitForBytesWritten(500);
            // One with no window says so before it hangs up; one asked for
            // a read-back says it took it.
            if (primera.waitForReadyRead(1000) || primera.bytesAvailable() > 0) {
                const QByteArray respuesta = primera.read(kLecturaMaxima);
                primera_sin_ventana_ = respuesta.contains(kSinVentana);
                lectura_pedida_ = respuesta.contains(kLecturaPedida);
                salida_pedida_ = respuesta.contains(kSaliendo);
            }
            primera.disconnectFromServer();
            return;
        }
        QThread::msleep(50);
    }
}

InstanciaUnica::~InstanciaUnica() = default;

QString InstanciaUnica::avisoDeCarpeta() const {
    if (!sin_escritura_)
        return {};
    return QStringLiteral("no se puede escribir en la carpeta %1: qv_int.ini, historial.csv, "
                          "sincro.txt y el bloqueo de una sola instancia no se guardarán ahí")
        .arg(QDir::toNativeSeparators(QDir::currentPath()));
}

QString InstanciaUnica::servidor() const {
    return servidor_ != nullptr && servidor_->isListening() ? servidor_->fullServerName()
                                                            : QString();
}

void InstanciaUnica::escuchar() {
    if (ruta_.isEmpty())
        return;
    if (servidor_ == nullptr) {
        servidor_ = new QLocalServer(this);
        servidor_->setSocketOptions(QLocalServer::UserAccessOption);
        servidor_->setMaxPendingConnections(kConexionesMaximas);
        connect(servidor_, &QLocalServer::newConnection, this, &InstanciaUnica::atender);
        auto* vigia = new QTimer(this);
        connect(vigia, &QTimer::timeout, this, [this] {
            if (!servidor_->isListening())
                escuchar();
        });
        vigia->start(kVigilanciaMs);
    }
    // We hold the lock: a socket left there is a dead program's.
    QLocalServer::removeServer(ruta_);
    servidor_->listen(ruta_);
}

void InstanciaUnica::atender() {
    while (QLocalSocket* otra = servidor_->nextPendingConnection()) {
        // At the cap the oldest goes: one that has waited longest without
        // a word, so a new start is still heard.
        abiertas_.removeAll(nullptr);
        if (abiertas_.size() >= kConexionesMaximas)
            abiertas_.takeFirst()->abort();
        abiertas_.append(otra);
        otra->setReadBufferSize(kLecturaMaxima);
        connect(otra, &QLocalSocket::readyRead, this, [this, otra] {
            const QByteArray leido = otra->read(kLecturaMaxima);
            const bool pide = leido.contains(kPedidoMostrar);
            const bool comprueba = leido.contains(kPedidoComprobar);
            const bool sale = leido.contains(kPedidoSalir);
            if ((pide && sin_ventana_) || comprueba || sale) {
                // Nothing to show: the second start is told, and tells.
                otra->write(sale ? kSaliendo : comprueba ? kLecturaPedida : kSinVentana);
                otra->waitForBytesWritten(500);
            }
            otra->disconnectFromServer();
            otra->abort();
            if (pide && !sin_ventana_)
                emit mostrar();
            if (comprueba)
                emit comprobar();
            if (sale)
                emit salir();
        });
        connect(otra, &QLocalSocket::disconnected, otra, &QObject::deleteLater);
        // One that says nothing is not kept.
        QTimer::singleShot(kConexionMaximaMs, otra, [otra] { otra->abort(); });
    }
    if (!servidor_->isListening())
        escuchar();
}

void cerrar_a_peticion(VentanaPrincipal* ventana, const QString& por_que) {
    if (ventana == nullptr)
        return;
    static bool dicho = false;
    if (!por_que.isEmpty() && !std::exchange(dicho, true))
        diario(Prioridad::Info, por_que);
    if (ventana->cerrando())
        QApplication::exit(0);
    else
        ventana->cerrarSinPreguntar();
}

namespace {

// --salir: the one running in this folder is asked to close and waited for
// until its lock is free. Nothing running is what was asked: 0.
int pedir_salida(const QString& nombre) {
    const QString carpeta = QDir::toNativeSeparators(QDir::currentPath());
    QLockFile libre(QDir::current().absoluteFilePath(QStringLiteral(".%1.lock").arg(nombre)));
    libre.setStaleLockTime(0);
    if (libre.tryLock(0)) {
        libre.unlock();
        std::printf("%s: no está en marcha en %s; nada que cerrar\n", qPrintable(nombre),
                    carpeta.toUtf8().constData());
        return 0;
    }
    InstanciaUnica unica(nombre, nullptr, false, InstanciaUnica::Pedido::Salir);
    if (!unica.impedimento().isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(nombre),
                     unica.impedimento().toUtf8().constData());
        return 1;
    }
    // Gone meanwhile: this start took the lock itself.
    if (!unica.otraEnMarcha()) {
        std::printf("%s: no está en marcha en %s; nada que cerrar\n", qPrintable(nombre),
                    carpeta.toUtf8().constData());
        return 0;
    }
    if (!unica.salidaPedida()) {
        std::fprintf(stderr, "%s: el que está en marcha en %s no contestó a la petición\n",
                     qPrintable(nombre), carpeta.toUtf8().constData());
        return 1;
    }
    // Its lock goes last, after qv_int.ini is written.
    QElapsedTimer t;
    t.start();
    while (!libre.tryLock(0)) {
        if (t.elapsed() > kEsperaSalidaMs) {
            std::fprintf(stderr, "%s: el que está en marcha en %s no se cerró en %d s\n",
                         qPrintable(nombre), carpeta.toUtf8().constData(), kEsperaSalidaMs / 1000);
            return 1;
        }
        QThread::msleep(50);
    }
    libre.unlock();
    std::printf("%s: el que estaba en marcha en %s se cerró\n", qPrintable(nombre),
                carpeta.toUtf8().constData());
    return 0;
}

} // namespace

namespace {

int ejecutar_programa(int argc, char** argv, const Programa& p,
                      const std::function<std::unique_ptr<VentanaPrincipal>(
                          const Entorno&, const OpcionesDeArranque&)>& crear) {
    preparar_consola();
    OpcionesDeArranque opciones;
    if (const auto salida = atender_linea_de_ordenes(argc, argv, p, &opciones))
        return *salida;
    // In the folder it works in, known now.
    diario_tambien_en_archivo(p.nombre);
    // Qt's own warnings go to the journal like every other line: one line,
    // led by its priority.
    qInstallMessageHandler([](QtMsgType tipo, const QMessageLogContext&, const QString& texto) {
        const char* prioridad = tipo == QtCriticalMsg || tipo == QtFatalMsg ? "<3>"
                                : tipo == QtWarningMsg                      ? "<4>"
                                                                            : "<7>";
        const QByteArray linea =
            prioridad + QByteArray("Qt: ") + texto.simplified().toUtf8() + '\n';
        std::fwrite(linea.constData(), 1, static_cast<std::size_t>(linea.size()), stderr);
    });
    // No display is needed, nor looked for, nor its session's services.
    if (opciones.sin_ventana)
        preparar_sin_ventana();
    else
        preparar_pantalla();
    QApplication app(argc, argv);
    preparar_aplicacion(p);
    // The window ends the program, never a message box or the configuration
    // window closing while it lives hidden in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    if (opciones.salir)
        return pedir_salida(p.nombre);
    InstanciaUnica unica(p.nombre, nullptr, opciones.sin_ventana && !opciones.comprobar,
                         opciones.comprobar ? InstanciaUnica::Pedido::Comprobar
                                            : InstanciaUnica::Pedido::Mostrar);
    if (opciones.comprobar) {
        const QString carpeta = QDir::toNativeSeparators(QDir::currentPath());
        if (unica.otraEnMarcha() && unica.lecturaPedida()) {
            std::printf("%s: lectura pedida al que está en marcha en %s\n", qPrintable(p.nombre),
                        carpeta.toUtf8().constData());
            return 0;
        }
        if (unica.otraEnMarcha())
            std::fprintf(stderr, "%s: el que está en marcha en %s no contestó a la petición\n",
                         qPrintable(p.nombre), carpeta.toUtf8().constData());
        else if (!unica.impedimento().isEmpty())
            std::fprintf(stderr, "%s: %s\n", qPrintable(p.nombre),
                         unica.impedimento().toUtf8().constData());
        else
            std::fprintf(stderr,
                         "%s: no está en marcha en esta carpeta (%s); no hay a quién pedir "
                         "la lectura\n",
                         qPrintable(p.nombre), carpeta.toUtf8().constData());
        return 1;
    }
    CajaMensajesQt en_caja;
    CajaMensajesDiario en_diario;
    CajaMensajes& mensajes = opciones.sin_ventana ? static_cast<CajaMensajes&>(en_diario) : en_caja;
    if (unica.otraEnMarcha()) {
        // A second start always tells: a second service ends in error; a
        // desktop start facing a service names it and how to stop it; one
        // facing a window has shown it.
        if (opciones.sin_ventana) {
            std::fprintf(stderr,
                         "<3>%s: ya está en marcha en esta carpeta (%s); este arranque "
                         "no hace nada\n",
                         qPrintable(p.nombre), QDir::currentPath().toUtf8().constData());
            return 1;
        }
        if (unica.primeraSinVentana()) {
            mensajes.mostrar(nullptr,
                             QStringLiteral("%1 ya está en marcha sin ventana en esta carpeta "
                                            "(%2), como servicio. Para verlo en una ventana, "
                                            "párelo (%3) y arránquelo de nuevo.")
                                 .arg(p.nombre, QDir::toNativeSeparators(QDir::currentPath()),
                                      como_parar_sin_ventana()),
                             QStringLiteral("Inicio"));
            return 1;
        }
        return 0;
    }
    if (const QString aviso = unica.avisoDeCarpeta(); !aviso.isEmpty())
        diario(Prioridad::Aviso, aviso);
    if (!unica.impedimento().isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(p.nombre), qPrintable(unica.impedimento()));
        mensajes.mostrar(nullptr, unica.impedimento(), QStringLiteral("Inicio"));
        return 1;
    }

    const std::unique_ptr<PuertoSerie> puerto = crear_puerto_real();
    HoraDelSistema hora;
    const Entorno entorno{puerto.get(), &hora, &mensajes,
                          [&mensajes](QWidget* padre) { abrir_configuracion(mensajes, padre); }};
    const std::unique_ptr<VentanaPrincipal> ventana = crear(entorno, opciones);
    // Closed (a signal, say) while start-up still shows a message: the loop
    // that was to run is over before it starts.
    bool cerrada = false;
    QObject::connect(ventana.get(), &VentanaPrincipal::cerrada, &app, [&cerrada] {
        cerrada = true;
        // exit, not quit: a message box's own loop must end too.
        QApplication::exit(0);
    });
    QObject::connect(&unica, &InstanciaUnica::mostrar, ventana.get(),
                     &VentanaPrincipal::volver_a_mostrar);
    QObject::connect(&unica, &InstanciaUnica::comprobar, ventana.get(),
                     &VentanaPrincipal::chequear_pronto);
    QObject::connect(&unica, &InstanciaUnica::salir, ventana.get(), [v = ventana.get()] {
        cerrar_a_peticion(v, QStringLiteral("pedido --salir: se cierra como al cerrar la ventana"));
    });
    // A service whose port a device policy refuses ends in error, so systemd
    // starts it again, this time letting in an adapter that came late.
    int estado = 0;
    if (opciones.sin_ventana)
        QObject::connect(
            puerto.get(), &PuertoSerie::vedado, ventana.get(),
            [&estado, v = ventana.get(), nombre = p.nombre] {
                std::fprintf(stderr,
                             "<3>%s: termina con estado 1 para arrancar de nuevo con el "
                             "puerto admitido\n",
                             qPrintable(nombre));
                estado = 1;
                v->cerrarSinPreguntar();
            },
            Qt::QueuedConnection);
    cerrar_con_senales(ventana.get());
    ventana->Form_Load();
    if (cerrada)
        return estado;
    // With no window, settings that cannot work end the program with a
    // status of its own (its units do not start it again on them), the
    // metrics saying so first: an idle service would look healthy.
    if (opciones.sin_ventana && !ventana->fallo_de_arranque().isEmpty()) {
        if (!opciones.metricas.isEmpty()) {
            Metricas m;
            m.carpeta = QDir::currentPath();
            m.puerto = QStringLiteral("COM%1").arg(puerto->CommPort());
            m.inicio_s = hora.ahora_us() / 1'000'000;
            m.ajustes_validos = false;
            try {
                reemplazar_sin_enlaces(QDir(opciones.metricas).filePath(nombre_metricas(m.carpeta)),
                                       texto_metricas(m));
            } catch (const Fallo& f) {
                std::fprintf(stderr, "<3>%s: %s\n", qPrintable(p.nombre),
                             f.descripcion().toUtf8().constData());
            }
        }
        std::fprintf(stderr,
                     "<3>%s: termina con estado %d: los ajustes de %s no sirven; corríjalos y "
                     "arránquelo de nuevo\n",
                     qPrintable(p.nombre), kEstadoAjustesNoValidos,
                     QDir::toNativeSeparators(QDir::currentPath()).toUtf8().constData());
        return kEstadoAjustesNoValidos;
    }
    centrar(ventana.get());
    if (!ventana->en_bandeja() && !opciones.sin_ventana)
        ventana->show();
    const int salida = QApplication::exec();
    return estado != 0 ? estado : salida;
}

} // namespace

int ejecutar(int argc, char** argv, const Programa& p,
             const std::function<std::unique_ptr<VentanaPrincipal>(
                 const Entorno&, const OpcionesDeArranque&)>& crear) {
    const int estado = ejecutar_programa(argc, argv, p, crear);
#ifdef Q_OS_WIN
    // Whatever the way out, the service manager hears it stopped.
    servicio_terminado(estado);
#endif
    return estado;
}

} // namespace quarvel
