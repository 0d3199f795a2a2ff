#include "platform/archivos.h"
#include "platform/archivos_sistema.h"

#include "platform/fallo.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

namespace quarvel {

namespace {

QString razon(DWORD error) {
    return qt_error_string(static_cast<int>(error));
}

std::wstring ruta_nativa(const QString& nombre) {
    return QDir::toNativeSeparators(nombre).toStdWString();
}

// Closes on every way out.
class Manejador {
public:
    explicit Manejador(HANDLE h)
        : h_(h) {}
    Manejador(const Manejador&) = delete;
    Manejador& operator=(const Manejador&) = delete;
    ~Manejador() { cerrar(); }
    HANDLE h() const { return h_; }
    bool valido() const { return h_ != INVALID_HANDLE_VALUE; }
    void cerrar() {
        if (valido())
            ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};

HANDLE abrir(const QString& nombre, DWORD acceso, DWORD disposicion) {
    return ::CreateFileW(ruta_nativa(nombre).c_str(), acceso,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposicion, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A file on a disk, not a folder, a device (NUL, COM1, CON) or a pipe.
bool es_normal(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool es_carpeta(const QString& nombre) {
    const DWORD a = ::GetFileAttributesW(ruta_nativa(nombre).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Writes all of `datos`; false with the system's error when it takes less.
bool escribir_todo(HANDLE h, const QByteArray& datos, DWORD& error) {
    qsizetype hecho = 0;
    while (hecho < datos.size()) {
        const DWORD pedido = static_cast<DWORD>(qMin<qsizetype>(datos.size() - hecho, 1 << 20));
        DWORD n = 0;
        if (!::WriteFile(h, datos.constData() + hecho, pedido, &n, nullptr) || n == 0) {
            error =
                n == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : ::GetLastError();
            return false;
        }
        hecho += n;
    }
    return true;
}

// Reads until the end or `maximo` bytes, whichever comes first.
QByteArray leer_hasta(HANDLE h, const QString& nombre, qint64 maximo) {
    QByteArray datos;
    char bloque[65536];
    while (datos.size() < maximo) {
        DWORD n = 0;
        if (!::ReadFile(h, bloque, sizeof bloque, &n, nullptr))
            throw Fallo(QStringLiteral("No se pudo leer el archivo \"%1\": %2")
                            .arg(nombre, razon(::GetLastError())));
        if (n == 0)
            break;
        datos.append(bloque, n);
    }
    return datos;
}

[[noreturn]] void no_es_normal(const QString& nombre, const char* que) {
    throw Fallo(QStringLiteral("El archivo \"%1\" no es un archivo normal (un dispositivo, una "
                               "tubería o una carpeta): no se %2")
                    .arg(nombre, QLatin1String(que)));
}

} // namespace

QByteArray leer_archivo_pequeno(const QString& nombre, qint64 maximo) {
    const Manejador f(abrir(nombre, GENERIC_READ, OPEN_EXISTING));
    if (!f.valido()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            throw Fallo(QStringLiteral("No se encontró el archivo \"%1\"").arg(nombre));
        // A folder cannot be opened as a file: named as what it is.
        if (es_carpeta(nombre))
            no_es_normal(nombre, "lee");
        throw Fallo(
            QStringLiteral("No se pudo abrir el archivo \"%1\": %2").arg(nombre, razon(error)));
    }
    if (!es_normal(f.h()))
        no_es_normal(nombre, "lee");
    QByteArray datos = leer_hasta(f.h(), nombre, maximo + 1);
    if (datos.size() > maximo)
        throw Fallo(QStringLiteral("El archivo \"%1\" es demasiado grande (más de %2 bytes): "
                                   "no se lee")
                        .arg(nombre)
                        .arg(maximo));
    return datos;
}

void comprobar_reemplazable(const QString& nombre) {
    const QFileInfo info(nombre);
    if (info.exists() && !info.isFile())
        no_es_normal(nombre, "escribe");
}

QByteArray leer_final_de_archivo(const QString& nombre, qint64 maximo, bool& recortado) {
    const Manejador f(abrir(nombre, GENERIC_READ, OPEN_EXISTING));
    LARGE_INTEGER tamano{};
    if (!f.valido() || !es_normal(f.h()) || !::GetFileSizeEx(f.h(), &tamano))
        throw Fallo(QStringLiteral("No se pudo leer \"%1\" como archivo normal").arg(nombre));
    recortado = tamano.QuadPart > maximo;
    LARGE_INTEGER desde{};
    desde.QuadPart = tamano.QuadPart - maximo;
    if (recortado && !::SetFilePointerEx(f.h(), desde, nullptr, FILE_BEGIN))
        throw Fallo(QStringLiteral("No se pudo leer el archivo \"%1\": %2")
                        .arg(nombre, razon(::GetLastError())));
    QByteArray datos = leer_hasta(f.h(), nombre, maximo);
    if (recortado) {
        // The first line was cut in two: it starts after its end.
        const qsizetype fin = datos.indexOf('\n');
        datos = fin < 0 ? QByteArray() : datos.mid(fin + 1);
    }
    return datos;
}

void reemplazar_sin_enlaces(const QString& nombre, const QByteArray& contenido) {
    const QFileInfo info(nombre);
    const QDir carpeta = info.absoluteDir();
    if (!carpeta.exists())
        throw Fallo(QStringLiteral("No se pudo abrir la carpeta \"%1\": %2")
                        .arg(info.absolutePath(), razon(ERROR_PATH_NOT_FOUND)));
    // CREATE_NEW: never a file, or a link, that is already there.
    QString temporal;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    for (int intento = 0; intento < 100 && h == INVALID_HANDLE_VALUE; ++intento) {
        temporal =
            carpeta.absoluteFilePath(u'.' + info.fileName() + u'.' +
                                     QString::number(QRandomGenerator::system()->generate64(), 36));
        h = abrir(temporal, GENERIC_WRITE, CREATE_NEW);
        error = ::GetLastError();
        if (h == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
            error != ERROR_ALREADY_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE)
        throw Fallo(
            QStringLiteral("No se pudo crear el archivo \"%1\": %2").arg(nombre, razon(error)));
    Manejador f(h);
    bool ok = escribir_todo(f.h(), contenido, error);
    f.cerrar();
    // The move replaces a link planted at the name, never what it points at.
    if (ok &&
        !::MoveFileExW(ruta_nativa(temporal).c_str(), ruta_nativa(info.absoluteFilePath()).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ::GetLastError();
        ok = false;
    }
    if (!ok) {
        ::DeleteFileW(ruta_nativa(temporal).c_str());
        throw Fallo(
            QStringLiteral("No se pudo escribir el archivo \"%1\": %2").arg(nombre, razon(error)));
    }
}

void escribir_en_su_sitio(const QString& nombre, const QByteArray& contenido) {
    // Through a link: CreateFileW follows it.
    const Manejador f(abrir(nombre, GENERIC_WRITE, OPEN_ALWAYS));
    DWORD error = ERROR_SUCCESS;
    if (!f.valido() || !::SetEndOfFile(f.h()))
        error = ::GetLastError();
    else if (escribir_todo(f.h(), contenido, error))
        return;
    throw Fallo(
        QStringLiteral("No se pudo escribir el archivo \"%1\": %2").arg(nombre, razon(error)));
}

void anexar_entero(const QString& nombre, const QByteArray& contenido) {
    // FILE_APPEND_DATA alone: every write lands at the end, whoever else
    // appends.
    const Manejador f(abrir(nombre, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS));
    LARGE_INTEGER tamano{};
    if (!f.valido() || !::GetFileSizeEx(f.h(), &tamano))
        throw Fallo(
            QStringLiteral("No se pudo escribir \"%1\": %2").arg(nombre, razon(::GetLastError())));
    DWORD error = ERROR_SUCCESS;
    if (!escribir_todo(f.h(), contenido, error)) {
        // Half a line would glue the next one onto it: cut back through a
        // handle that may truncate.
        if (es_normal(f.h())) {
            const Manejador t(abrir(nombre, GENERIC_WRITE, OPEN_EXISTING));
            if (t.valido() && ::SetFilePointerEx(t.h(), tamano, nullptr, FILE_BEGIN))
                ::SetEndOfFile(t.h());
        }
        throw Fallo(QStringLiteral("No se pudo escribir \"%1\": %2").arg(nombre, razon(error)));
    }
}

} // namespace quarvel
