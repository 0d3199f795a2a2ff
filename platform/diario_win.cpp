#include "platform/diario.h"

#include <QDateTime>
#include <QDir>
#include <mutex>
#include <string>

#include <windows.h>

namespace quarvel {

namespace {

struct ArchivoDelDiario {
    std::mutex cerrojo;
    std::wstring ruta;
    std::wstring anterior; // ruta + ".1"
    qint64 tamano_maximo = 0;
    HANDLE h = INVALID_HANDLE_VALUE;
};

ArchivoDelDiario& archivo() {
    static ArchivoDelDiario a;
    return a;
}

HANDLE abrir(const std::wstring& ruta) {
    // FILE_APPEND_DATA: each write lands whole at the end, even with a
    // second start writing its refusal. The user may read, copy or delete
    // the file meanwhile.
    return ::CreateFileW(ruta.c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void cerrar(ArchivoDelDiario& a) {
    if (a.h != INVALID_HANDLE_VALUE)
        ::CloseHandle(a.h);
    a.h = INVALID_HANDLE_VALUE;
}

const char* palabra(Prioridad prioridad) {
    switch (prioridad) {
    case Prioridad::Error:
        return "error";
    case Prioridad::Aviso:
        return "aviso";
    case Prioridad::Info:
        break;
    }
    return "info";
}

} // namespace

void diario_tambien_en_archivo(const QString& nombre, qint64 tamano_maximo) {
    ArchivoDelDiario& a = archivo();
    const std::lock_guard<std::mutex> bajo(a.cerrojo);
    cerrar(a);
    a.ruta.clear();
    if (nombre.isEmpty())
        return;
    a.ruta =
        QDir::toNativeSeparators(QDir::current().absoluteFilePath(nombre + QStringLiteral(".log")))
            .toStdWString();
    a.anterior = a.ruta + L".1";
    a.tamano_maximo = tamano_maximo;
}

void anotar_en_archivo_del_diario(Prioridad prioridad, const QString& texto) {
    ArchivoDelDiario& a = archivo();
    const std::lock_guard<std::mutex> bajo(a.cerrojo);
    if (a.ruta.empty())
        return;
    // Made with its first line: a start that has nothing to say leaves no
    // empty file. A folder the user cannot write in has none: the lines
    // still go to stderr.
    if (a.h == INVALID_HANDLE_VALUE)
        a.h = abrir(a.ruta);
    if (a.h == INVALID_HANDLE_VALUE)
        return;
    // Local time to the millisecond, sorting as it reads; Notepad's line ends.
    const QByteArray linea =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8() +
        palabra(prioridad) + ": " + texto.toUtf8() + "\r\n";
    DWORD escritos = 0;
    ::WriteFile(a.h, linea.constData(), static_cast<DWORD>(linea.size()), &escritos, nullptr);
    LARGE_INTEGER tamano{};
    if (!::GetFileSizeEx(a.h, &tamano) || tamano.QuadPart <= a.tamano_maximo)
        return;
    // Windows moves no open file: closed and moved; the next line starts a
    // new one. When the move fails (the old one held open elsewhere) the
    // file keeps growing until a later line finds it free.
    cerrar(a);
    ::MoveFileExW(a.ruta.c_str(), a.anterior.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace quarvel
