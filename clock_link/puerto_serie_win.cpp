#include "clock_link/puerto_serie_win.h"

#include "platform/fuente_hora.h"

#include <QDeadlineTimer>
#include <chrono>
#include <optional>

#include <windows.h>

namespace quarvel {

namespace {

// As PuertoSerieQt: how long a close waits for written bytes to leave, and
// where what nobody reads stops piling up.
constexpr int kEsperaCierreMs = 1500;
constexpr qsizetype kEntradaMaxima = 4096;
using Reloj = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the reading thread looks for bytes while a reply may come: a
// byte's time at 9600 baud, so its arrival is known to the millisecond.
constexpr DWORD kMiradaMs = 1;
// Otherwise: often enough to notice soon that the device went away.
constexpr DWORD kMiradaLentaMs = 250;
// A write starts the quick looks; the read-back's wait, which follows its
// write at once, keeps them going while it lasts and this long after it.
constexpr milliseconds kTrasEscritura{250};
constexpr milliseconds kTrasEspera{50};

HANDLE manejador(void* h) {
    return static_cast<HANDLE>(h);
}

QString razon(DWORD error) {
    return qt_error_string(static_cast<int>(error));
}

BYTE paridad_dcb(char p) {
    switch (p) {
    case 'E':
        return EVENPARITY;
    case 'O':
        return ODDPARITY;
    case 'M':
        return MARKPARITY;
    case 'S':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

BYTE parada_dcb(int s) {
    switch (s) {
    case 2:
        return TWOSTOPBITS;
    case 15:
        return ONE5STOPBITS;
    default:
        return ONESTOPBIT;
    }
}

} // namespace

// One write the driver has not finished: its bytes and its OVERLAPPED stay
// alive until it has.
struct PuertoSerieWin::Escritura {
    QByteArray bytes;
    OVERLAPPED ov{};
    Escritura() { ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Escritura() { ::CloseHandle(ov.hEvent); }
    Escritura(const Escritura&) = delete;
    Escritura& operator=(const Escritura&) = delete;
};

PuertoSerieWin::PuertoSerieWin(QObject* parent)
    : PuertoSerie(parent) {
    connect(
        this, &PuertoSerieWin::llegaron, this,
        [this](quint64 sesion) {
            if (sesion != sesion_)
                return;
            {
                const std::lock_guard<std::mutex> l(m_);
                aviso_pendiente_ = false;
            }
            if (abierto_)
                emit OnComm();
        },
        Qt::QueuedConnection);
    connect(this, &PuertoSerieWin::fallo_lectura, this, &PuertoSerieWin::alPerder,
            Qt::QueuedConnection);
}

PuertoSerieWin::~PuertoSerieWin() {
    if (abierto_)
        cerrar();
}

bool PuertoSerieWin::abrir() {
    const QString nombre = nombrePuerto();
    const std::wstring ruta = L"\\\\.\\COM" + std::to_wstring(CommPort());
    HANDLE h = ::CreateFileW(ruta.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            setError(QStringLiteral("No existe el puerto %1: conecte el reloj o revise "
                                    "[COM_PORT] en qv.ini")
                         .arg(nombre));
        else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            // A COM port opens once: another handle holds it.
            setError(QStringLiteral("El puerto %1 está en uso por otro programa").arg(nombre));
        else
            setError(QStringLiteral("No se pudo abrir el puerto %1: %2").arg(nombre, razon(error)));
        return false;
    }
    const ConfigLinea& c = linea();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(h, &dcb);
    if (ok) {
        dcb.BaudRate = static_cast<DWORD>(c.baudios);
        dcb.ByteSize = static_cast<BYTE>(c.datos);
        dcb.Parity = paridad_dcb(c.paridad);
        dcb.StopBits = parada_dcb(c.parada);
        dcb.fBinary = TRUE;
        dcb.fParity = c.paridad != 'N';
        // No flow control; DTR and RTS raised, as a Linux tty raises them on
        // open (a clock may draw its line power from them).
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        ok = ::SetCommState(h, &dcb);
    }
    // A read returns at once with what has arrived; writes never time out.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    ok = ok && ::SetCommTimeouts(h, &t) &&
         ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    if (!ok) {
        setError(QStringLiteral("El puerto %1 no acepta la configuración \"%2\": %3")
                     .arg(nombre, Settings(), razon(::GetLastError())));
        ::CloseHandle(h);
        return false;
    }
    h_ = h;
    parar_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    despertar_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        const std::lock_guard<std::mutex> l(m_);
        entrada_.clear();
        aviso_pendiente_ = false;
        a_menudo_hasta_ = {};
    }
    abierto_ = true;
    ++sesion_;
    lector_ = std::thread([this, s = sesion_] { leer_en_hilo(s); });
    return true;
}

void PuertoSerieWin::leer_en_hilo(quint64 sesion) {
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char bloque[512];
    // Millisecond waits need Windows' fine timer: held only while they last.
    std::optional<ResolucionFina> fina;
    const HANDLE eventos[] = {manejador(parar_), manejador(despertar_)};
    // The driver's count of waiting bytes, looked at again and again; a read
    // takes only what is there, so it never waits. (Under Wine 8 on a
    // pseudo-terminal neither WaitCommEvent nor a read left pending ever
    // completes, and a blocking read waits out its whole timeout.)
    for (;;) {
        bool a_menudo = false;
        {
            const std::lock_guard<std::mutex> l(m_);
            a_menudo = Reloj::now() < a_menudo_hasta_;
        }
        if (a_menudo && !fina)
            fina.emplace();
        else if (!a_menudo)
            fina.reset();
        if (::WaitForMultipleObjects(2, eventos, FALSE, a_menudo ? kMiradaMs : kMiradaLentaMs) ==
            WAIT_OBJECT_0)
            break;
        DWORD errores = 0;
        COMSTAT estado{};
        if (!::ClearCommError(manejador(h_), &errores, &estado)) {
            emit fallo_lectura(sesion, razon(::GetLastError()));
            break;
        }
        while (estado.cbInQue > 0) {
            DWORD n = 0;
            ::ResetEvent(ov.hEvent);
            const DWORD pedido = qMin<DWORD>(estado.cbInQue, sizeof bloque);
            if (!::ReadFile(manejador(h_), bloque, pedido, &n, &ov) &&
                (::GetLastError() != ERROR_IO_PENDING ||
                 !::GetOverlappedResult(manejador(h_), &ov, &n, TRUE))) {
                emit fallo_lectura(sesion, razon(::GetLastError()));
                ::CloseHandle(ov.hEvent);
                return;
            }
            if (n == 0)
                break;
            estado.cbInQue -= qMin(estado.cbInQue, n);
            bool avisar = false;
            {
                const std::lock_guard<std::mutex> l(m_);
                entrada_.append(bloque, qMin<qsizetype>(n, kEntradaMaxima - entrada_.size()));
                avisar = !aviso_pendiente_;
                aviso_pendiente_ = true;
            }
            hay_datos_.notify_all();
            if (avisar)
                emit llegaron(sesion);
        }
    }
    ::CloseHandle(ov.hEvent);
}

bool PuertoSerieWin::recoger_escrituras(int ms) {
    const QDeadlineTimer limite(ms);
    while (!escrituras_.empty()) {
        Escritura& e = *escrituras_.front();
        const DWORD espera = static_cast<DWORD>(qMax<qint64>(0, limite.remainingTime()));
        if (::WaitForSingleObject(e.ov.hEvent, espera) != WAIT_OBJECT_0)
            return false;
        escrituras_.pop_front();
    }
    return true;
}

bool PuertoSerieWin::escribir(const QByteArray& datos) {
    recoger_escrituras(0);
    auto e = std::make_unique<Escritura>();
    e->bytes = datos;
    DWORD n = 0;
    // Handed to the driver now and not waited for, as a flush on Linux.
    if (!::WriteFile(manejador(h_), e->bytes.constData(), static_cast<DWORD>(e->bytes.size()), &n,
                     &e->ov)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            setError(QStringLiteral("No se pudo escribir en el puerto %1: %2")
                         .arg(nombrePuerto(), razon(error)));
            return false;
        }
    }
    escrituras_.push_back(std::move(e));
    mirar_a_menudo_hasta(Reloj::now() + kTrasEscritura);
    return true;
}

void PuertoSerieWin::mirar_a_menudo_hasta(Reloj::time_point hasta) {
    bool dormia = false;
    {
        const std::lock_guard<std::mutex> l(m_);
        dormia = Reloj::now() >= a_menudo_hasta_;
        a_menudo_hasta_ = hasta;
    }
    if (dormia)
        ::SetEvent(manejador(despertar_));
}

QByteArray PuertoSerieWin::leer() {
    const std::lock_guard<std::mutex> l(m_);
    QByteArray r;
    r.swap(entrada_);
    return r;
}

void PuertoSerieWin::esperarDatos(int ms) {
    if (!abierto_)
        return;
    // Someone waits for a reply: it decides how long the quick looks last.
    mirar_a_menudo_hasta(Reloj::now() + milliseconds(ms) + kTrasEspera);
    std::unique_lock<std::mutex> l(m_);
    hay_datos_.wait_for(l, std::chrono::milliseconds(ms), [this] { return !entrada_.isEmpty(); });
}

qint64 PuertoSerieWin::InBufferCount() const {
    const std::lock_guard<std::mutex> l(m_);
    return entrada_.size();
}

void PuertoSerieWin::cerrar() {
    // Bytes written before a close must reach the clock; a device that takes
    // nothing in has them dropped.
    if (!recoger_escrituras(kEsperaCierreMs)) {
        ::PurgeComm(manejador(h_), PURGE_TXABORT | PURGE_TXCLEAR);
        recoger_escrituras(kEsperaCierreMs);
    }
    escrituras_.clear();
    ::SetEvent(manejador(parar_));
    if (lector_.joinable())
        lector_.join();
    ::CloseHandle(manejador(parar_));
    ::CloseHandle(manejador(despertar_));
    ::CloseHandle(manejador(h_));
    h_ = parar_ = despertar_ = nullptr;
    abierto_ = false;
}

void PuertoSerieWin::alPerder(quint64 sesion, const QString& motivo) {
    if (!abierto_ || sesion != sesion_)
        return;
    const QString descripcion =
        QStringLiteral("Se perdió el puerto %1: %2").arg(nombrePuerto(), motivo);
    setError(descripcion);
    // The device went away (unplugged): nothing written can leave.
    ::PurgeComm(manejador(h_), PURGE_TXABORT | PURGE_TXCLEAR);
    cerrar();
    emit perdido(descripcion);
}

} // namespace quarvel
