#include "main_window/programa.h"
#include "main_window/programa_sistema.h"

#include "clock_link/puerto_serie_win.h"
#include "platform/diario.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSessionManager>
#include <QSysInfo>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <io.h>
#include <windows.h>
// After windows.h, whose types they use.
#include <sddl.h>
#include <shlobj.h>

namespace quarvel {

namespace {

// The user a process runs as, as a SID string; empty when it cannot be told.
QString usuario_de(HANDLE proceso) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(proceso, TOKEN_QUERY, &token))
        return {};
    QString r;
    DWORD largo = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &largo);
    QByteArray datos(static_cast<qsizetype>(largo), '\0');
    LPWSTR texto = nullptr;
    if (largo > 0 && ::GetTokenInformation(token, TokenUser, datos.data(), largo, &largo) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(datos.data())->User.Sid, &texto)) {
        r = QString::fromWCharArray(texto);
        ::LocalFree(texto);
    }
    ::CloseHandle(token);
    return r;
}

// The file name of the program a process runs, in lower case.
QString imagen_de(HANDLE proceso) {
    wchar_t ruta[MAX_PATH * 2];
    DWORD largo = static_cast<DWORD>(std::size(ruta));
    if (!::QueryFullProcessImageNameW(proceso, 0, ruta, &largo))
        return {};
    return QFileInfo(QString::fromWCharArray(ruta, static_cast<qsizetype>(largo)))
        .fileName()
        .toLower();
}

const QString& usuario_propio() {
    static const QString u = usuario_de(::GetCurrentProcess());
    return u;
}

QPointer<VentanaPrincipal> ventana_a_cerrar;
std::atomic<bool> descargada{false};

void cerrar_ventana() {
    cerrar_a_peticion(ventana_a_cerrar);
}

// The session's end, heard by Qt's windows or by the program's own: said
// once, then the window closes as at a click.
void cerrar_al_fin_de_sesion() {
    static bool dicho = false;
    if (!std::exchange(dicho, true))
        diario(Prioridad::Info,
               QStringLiteral("fin de la sesión de Windows: se cierra como al cerrar la ventana"));
    cerrar_ventana();
}

// WM_CLOSE to the hidden window: the installer (or taskkill without /F)
// asking every copy of this folder's programs to close.
void cerrar_a_peticion_de_windows() {
    cerrar_a_peticion(ventana_a_cerrar,
                      QStringLiteral("Windows pidió que se cierre (el instalador, o taskkill): "
                                     "se cierra como al cerrar la ventana"));
}

// Logoff and shutdown reach a window program through its top-level windows,
// and Qt makes none before its window is first shown (a checker in the
// tray), or ever off screen: this hidden one, on a thread of its own, hears
// them in every state. It holds the session's end until the program has
// closed and gone, with its lock; the process ends when this returns.
LRESULT CALLBACK al_fin_de_sesion(HWND h, UINT mensaje, WPARAM w, LPARAM l) {
    if (mensaje == WM_QUERYENDSESSION)
        return TRUE;
    if (mensaje == WM_CLOSE) {
        QMetaObject::invokeMethod(qApp, &cerrar_a_peticion_de_windows, Qt::QueuedConnection);
        return 0;
    }
    if (mensaje == WM_ENDSESSION) {
        if (w != FALSE) {
            QMetaObject::invokeMethod(qApp, &cerrar_al_fin_de_sesion, Qt::QueuedConnection);
            for (int i = 0; i < 450; ++i)
                ::Sleep(10);
        }
        return 0;
    }
    return ::DefWindowProcW(h, mensaje, w, l);
}

// The installer finds the copies that run by this window: its title is the
// program's path and, after a "|", the folder it works in (where it is
// started again afterwards).
void escuchar_fin_de_sesion(const std::wstring& titulo) {
    WNDCLASSW clase{};
    clase.lpfnWndProc = al_fin_de_sesion;
    clase.hInstance = ::GetModuleHandleW(nullptr);
    clase.lpszClassName = L"QuarvelFinDeSesion";
    if (::RegisterClassW(&clase) == 0)
        return;
    // Top-level, never shown: a message-only window hears no broadcast.
    HWND h = ::CreateWindowExW(0, clase.lpszClassName, titulo.c_str(), WS_OVERLAPPED, 0, 0, 0, 0,
                               nullptr, nullptr, clase.hInstance, nullptr);
    if (h == nullptr)
        return;
    MSG m;
    while (::GetMessageW(&m, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&m);
}

// Ctrl-C, Ctrl-Break, the console closed, logoff, shutdown: the window
// closes the normal way on its own thread. The last three end the process
// when this returns, so they wait (a little) for the unload.
// Set once the service control manager runs this process.
SERVICE_STATUS_HANDLE servicio_actual = nullptr;
std::atomic<bool> parar_pedido{false};
std::atomic<bool> ventana_lista{false};
std::atomic<bool> parada_enviada{false};

BOOL WINAPI al_recibir_control(DWORD tipo) {
    // A service hears every user's logoff: not its end. The manager says
    // when it is to stop.
    if (servicio_actual != nullptr && (tipo == CTRL_LOGOFF_EVENT || tipo == CTRL_SHUTDOWN_EVENT))
        return TRUE;
    QMetaObject::invokeMethod(qApp, &cerrar_ventana, Qt::QueuedConnection);
    if (tipo == CTRL_CLOSE_EVENT || tipo == CTRL_LOGOFF_EVENT || tipo == CTRL_SHUTDOWN_EVENT) {
        for (int i = 0; i < 450 && !descargada; ++i)
            ::Sleep(10);
    }
    return TRUE;
}

std::wstring nombre_del_servicio;
// 1 once the manager runs it, -1 when it does not.
std::atomic<int> conexion{0};
std::atomic<bool> despachador_terminado{false};

void informar(DWORD estado, int salida = 0, DWORD espera_ms = 0) {
    SERVICE_STATUS s{};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = estado;
    s.dwControlsAccepted =
        estado == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    s.dwWin32ExitCode = salida == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    s.dwServiceSpecificExitCode = static_cast<DWORD>(salida);
    s.dwWaitHint = espera_ms;
    ::SetServiceStatus(servicio_actual, &s);
}

void parar_el_servicio() {
    cerrar_a_peticion(ventana_a_cerrar,
                      QStringLiteral("el administrador de servicios de Windows pidió parar: se "
                                     "cierra como al cerrar la ventana"));
}

DWORD WINAPI al_control_del_servicio(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        // The unload may wait for a read-back's reply.
        informar(SERVICE_STOP_PENDING, 0, 35000);
        // Before the window exists, it is closed as soon as it does.
        parar_pedido = true;
        if (ventana_lista && !parada_enviada.exchange(true))
            QMetaObject::invokeMethod(qApp, &parar_el_servicio, Qt::QueuedConnection);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI al_arrancar_servicio(DWORD, LPWSTR*) {
    servicio_actual = ::RegisterServiceCtrlHandlerExW(nombre_del_servicio.c_str(),
                                                      al_control_del_servicio, nullptr);
    if (servicio_actual == nullptr) {
        conexion = -1;
        return;
    }
    informar(SERVICE_RUNNING);
    conexion = 1;
}

// The manager's dispatcher keeps this thread until the service stops.
void despachar() {
    std::wstring nombre = nombre_del_servicio;
    SERVICE_TABLE_ENTRYW tabla[] = {{nombre.data(), &al_arrancar_servicio}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(tabla) == FALSE)
        conexion = -1;
    despachador_terminado = true;
}

struct Manejador {
    SC_HANDLE h = nullptr;
    explicit Manejador(SC_HANDLE abierto)
        : h(abierto) {}
    ~Manejador() {
        if (h != nullptr)
            ::CloseServiceHandle(h);
    }
    Manejador(const Manejador&) = delete;
    Manejador& operator=(const Manejador&) = delete;
};

QString error_de_windows(DWORD codigo) {
    if (codigo == ERROR_ACCESS_DENIED)
        return QStringLiteral("sin permiso: ejecútelo como administrador");
    return QStringLiteral("error %1 de Windows").arg(codigo);
}

} // namespace

QString carpeta_de_servicio(const QString& nombre) {
    // Asked of the system, not of %ProgramData%: a service's environment
    // may name another folder than an administrator's console does (Wine's
    // does), and both must meet in one.
    wchar_t datos[MAX_PATH];
    const QString comun =
        ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, datos) == S_OK
            ? QString::fromWCharArray(datos)
            : QStringLiteral("C:/ProgramData");
    return QDir(QDir::fromNativeSeparators(comun)).filePath(QStringLiteral("Quarvel/") + nombre);
}

bool conectar_servicio(const QString& servicio) {
    nombre_del_servicio = servicio.toStdWString();
    std::thread(despachar).detach();
    // The manager gives a process 30 s to connect.
    for (int i = 0; i < 3000 && conexion == 0; ++i)
        ::Sleep(10);
    return conexion == 1;
}

void servicio_terminado(int estado) {
    if (servicio_actual == nullptr)
        return;
    informar(SERVICE_STOPPED, estado);
    for (int i = 0; i < 300 && !despachador_terminado; ++i)
        ::Sleep(10);
}

int instalar_servicio(const QString& servicio, const QString& mostrado, const QString& orden) {
    wchar_t programa[MAX_PATH * 2];
    const DWORD largo =
        ::GetModuleFileNameW(nullptr, programa, static_cast<DWORD>(std::size(programa)));
    const std::wstring linea =
        L"\"" + std::wstring(programa, largo) + L"\" " + orden.toStdWString();
    const Manejador scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (scm.h == nullptr) {
        std::fprintf(stderr, "%s: no se pudo instalar el servicio: %s\n", qPrintable(servicio),
                     error_de_windows(::GetLastError()).toUtf8().constData());
        return 1;
    }
    const Manejador s(::CreateServiceW(
        scm.h, servicio.toStdWString().c_str(), mostrado.toStdWString().c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, linea.c_str(), nullptr,
        nullptr, nullptr, nullptr, nullptr));
    if (s.h == nullptr) {
        const DWORD e = ::GetLastError();
        std::fprintf(stderr, "%s: no se pudo instalar el servicio: %s\n", qPrintable(servicio),
                     e == ERROR_SERVICE_EXISTS ? "ya existe (quítelo antes con --quitar-servicio)"
                                               : error_de_windows(e).toUtf8().constData());
        return 1;
    }
    std::wstring descripcion =
        QStringLiteral("Pone en hora el reloj del puerto serie y lo chequea, sin ventana; su "
                       "diario en Quarvel430.log de su carpeta.")
            .toStdWString();
    SERVICE_DESCRIPTIONW d{descripcion.data()};
    ::ChangeServiceConfig2W(s.h, SERVICE_CONFIG_DESCRIPTION, &d);
    std::printf("%s: servicio instalado; arranca con Windows. Su carpeta: %s. Ajuste allí "
                "qv.ini y arránquelo: sc start %s\n",
                qPrintable(servicio),
                QDir::toNativeSeparators(QDir::currentPath()).toUtf8().constData(),
                qPrintable(servicio));
    return 0;
}

int quitar_servicio(const QString& servicio) {
    const Manejador scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const Manejador s(scm.h == nullptr
                          ? nullptr
                          : ::OpenServiceW(scm.h, servicio.toStdWString().c_str(),
                                           SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (s.h == nullptr) {
        const DWORD e = ::GetLastError();
        std::fprintf(stderr, "%s: no se pudo quitar el servicio: %s\n", qPrintable(servicio),
                     e == ERROR_SERVICE_DOES_NOT_EXIST ? "no existe"
                                                       : error_de_windows(e).toUtf8().constData());
        return 1;
    }
    SERVICE_STATUS estado{};
    ::ControlService(s.h, SERVICE_CONTROL_STOP, &estado);
    // Its unload may wait for a read-back's reply.
    for (int i = 0;
         i < 350 && ::QueryServiceStatus(s.h, &estado) && estado.dwCurrentState != SERVICE_STOPPED;
         ++i)
        ::Sleep(100);
    if (!::DeleteService(s.h)) {
        std::fprintf(stderr, "%s: no se pudo quitar el servicio: %s\n", qPrintable(servicio),
                     error_de_windows(::GetLastError()).toUtf8().constData());
        return 1;
    }
    std::printf("%s: servicio parado y quitado; su carpeta queda\n", qPrintable(servicio));
    return 0;
}

bool hay_pantalla_en(const QString& /*plataforma*/) {
    // Every Windows session has a desktop to draw on.
    return true;
}

bool es_esta_maquina(const QString& nombre) {
    // Windows names are the same in any case, and Winsock's host name has
    // been seen in capitals (the NetBIOS name's) in one start and not in
    // the next.
    wchar_t netbios[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD largo = static_cast<DWORD>(std::size(netbios));
    return nombre.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0 ||
           (::GetComputerNameW(netbios, &largo) &&
            nombre.compare(QString::fromWCharArray(netbios, static_cast<qsizetype>(largo)),
                           Qt::CaseInsensitive) == 0);
}

bool proceso_vivo(qint64 pid) {
    // Numbers come back soon (under Wine the same one at every start): a
    // lock naming this process was left by an earlier one. One this process
    // holds cannot be removed, and is then taken as another instance's.
    if (pid <= 0 || pid == static_cast<qint64>(::GetCurrentProcessId()))
        return false;
    HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (p == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD codigo = 0;
    // Windows reuses a process number soon: one that runs another program
    // is not the owner come back.
    const bool vivo = ::GetExitCodeProcess(p, &codigo) && codigo == STILL_ACTIVE &&
                      imagen_de(p) == imagen_de(::GetCurrentProcess());
    ::CloseHandle(p);
    return vivo;
}

bool proceso_propio(qint64 pid) {
    HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (p == nullptr)
        return false;
    const QString usuario = usuario_de(p);
    ::CloseHandle(p);
    return !usuario.isEmpty() && usuario == usuario_propio();
}

QString nombre_de_servidor(const QString& nombre, const QString& carpeta) {
    // A named pipe: one namespace for the machine, so the user is in the
    // name; UserAccessOption keeps others out of it.
    const QByteArray clave = QFileInfo(carpeta).canonicalFilePath().toLower().toUtf8() + '\0' +
                             usuario_propio().toUtf8();
    return QStringLiteral("quarvel-%1-%2")
        .arg(nombre,
             QString::fromLatin1(
                 QCryptographicHash::hash(clave, QCryptographicHash::Sha1).toHex().left(16)));
}

std::shared_ptr<void> tomar_exclusion(const QString& servidor) {
    // Its existence is the mark: the first start makes it, and it goes with
    // the last handle, when that process ends however it ends.
    const std::wstring nombre = L"Local\\" + servidor.toStdWString();
    HANDLE h = ::CreateMutexW(nullptr, FALSE, nombre.c_str());
    if (h == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED ? nullptr : std::make_shared<int>(0);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(h);
        return nullptr;
    }
    return std::shared_ptr<void>(h, &::CloseHandle);
}

QString como_terminar_sin_ventana() {
    return QStringLiteral("Ctrl+C en su consola, o al cerrar la sesión");
}

QString como_parar_sin_ventana() {
    return QStringLiteral("Ctrl+C en la consola donde corre, o desde el Administrador de tareas");
}

void preparar_consola() {
    // A window program gets no console. Redirected (`> archivo`), its
    // handles are there already; started from a console, it writes to that
    // one; double-clicked, to none (the log file in its folder has the
    // lines).
    const auto valido = [](DWORD cual) {
        HANDLE h = ::GetStdHandle(cual);
        return h != nullptr && h != INVALID_HANDLE_VALUE;
    };
    // Unbuffered, as on a console: a line written just before the process
    // is ended must not be lost with the buffer.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    if (valido(STD_ERROR_HANDLE) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // The C library's streams and descriptors 1 and 2 (the journal writes
    // to 2), both onto the console.
    if (!valido(STD_OUTPUT_HANDLE) || _fileno(stdout) < 0) {
        if (std::freopen("CONOUT$", "w", stdout) != nullptr)
            _dup2(_fileno(stdout), 1);
    }
    if (std::freopen("CONOUT$", "w", stderr) != nullptr) {
        std::setvbuf(stderr, nullptr, _IONBF, 0);
        _dup2(_fileno(stderr), 2);
    }
}

void preparar_pantalla() {
    // Wine's GDI gives glyph boxes far taller than the glyphs, and Qt then
    // centres a text field's line out of the field: the fields show empty.
    // Qt's own FreeType engine measures the same fonts right. Windows itself
    // keeps its own engine; -platform or QT_QPA_PLATFORM still choose.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
}

void preparar_sin_ventana() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
}

QString carpeta_de_usuario() {
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    return local.isEmpty() ? QString() : QDir(local).filePath(QStringLiteral("Quarvel"));
}

std::unique_ptr<PuertoSerie> crear_puerto_real() {
    // Windows' fine timer is held only while it is needed: by the exact
    // waits (HoraDelSistema) and by the port while a reply is awaited.
    return std::make_unique<PuertoSerieWin>();
}

void cerrar_con_senales(VentanaPrincipal* ventana) {
    if (ventana_a_cerrar != nullptr)
        return;
    ventana_a_cerrar = ventana;
    // A stop the service manager asked for while the program started.
    ventana_lista = true;
    if (parar_pedido && !parada_enviada.exchange(true))
        QMetaObject::invokeMethod(qApp, &parar_el_servicio, Qt::QueuedConnection);
    QObject::connect(ventana, &VentanaPrincipal::cerrada, [] { descargada = true; });
    // A program without a console hears of logoff and shutdown through its
    // windows: Qt asks it to save its data first.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, ventana,
                     [](QSessionManager&) { cerrar_al_fin_de_sesion(); });
    ::SetConsoleCtrlHandler(al_recibir_control, TRUE);
    const QString titulo = QDir::toNativeSeparators(QCoreApplication::applicationFilePath()) +
                           u'|' + QDir::toNativeSeparators(QDir::currentPath());
    std::thread(escuchar_fin_de_sesion, titulo.toStdWString()).detach();
}

} // namespace quarvel
