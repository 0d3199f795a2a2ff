#include "platform/archivos.h"
#include "platform/archivos_sistema.h"

#include "platform/fallo.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel {

namespace {

QString razon(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Closes on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// Writes all of `datos`; false with errno set when the system takes less.
bool escribir_todo(int fd, const QByteArray& datos) {
    qsizetype hecho = 0;
    while (hecho < datos.size()) {
        const ssize_t n =
            ::write(fd, datos.constData() + hecho, static_cast<std::size_t>(datos.size() - hecho));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        hecho += n;
    }
    return true;
}

// Reads from `fd` until its end or `maximo` bytes, whichever comes first.
QByteArray leer_hasta(int fd, const QString& nombre, qint64 maximo) {
    QByteArray datos;
    char bloque[65536];
    while (datos.size() < maximo) {
        const ssize_t n = ::read(fd, bloque, sizeof bloque);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Fallo(
                QStringLiteral("No se pudo leer el archivo \"%1\": %2").arg(nombre, razon(errno)));
        if (n == 0)
            break;
        datos.append(bloque, n);
    }
    return datos;
}

} // namespace

QByteArray leer_archivo_pequeno(const QString& nombre, qint64 maximo) {
    const QByteArray ruta = QFile::encodeName(nombre);
    // Non-blocking: a FIFO put in a file's place must not hang the program.
    const Descriptor f(::open(ruta.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (f.fd() < 0) {
        if (errno == ENOENT)
            throw Fallo(QStringLiteral("No se encontró el archivo \"%1\"").arg(nombre));
        throw Fallo(
            QStringLiteral("No se pudo abrir el archivo \"%1\": %2").arg(nombre, razon(errno)));
    }
    struct stat st {};
    if (::fstat(f.fd(), &st) != 0 || !S_ISREG(st.st_mode))
        throw Fallo(QStringLiteral("El archivo \"%1\" no es un archivo normal (un dispositivo, una "
                                   "tubería o una carpeta): no se lee")
                        .arg(nombre));
    QByteArray datos = leer_hasta(f.fd(), nombre, maximo + 1);
    if (datos.size() > maximo)
        throw Fallo(QStringLiteral("El archivo \"%1\" es demasiado grande (más de %2 bytes): "
                                   "no se lee")
                        .arg(nombre)
                        .arg(maximo));
    return datos;
}

void comprobar_reemplazable(const QString& nombre) {
    struct stat st {};
    if (::stat(QFile::encodeName(nombre).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        throw Fallo(QStringLiteral("El archivo \"%1\" no es un archivo normal (un dispositivo, una "
                                   "tubería o una carpeta): no se escribe")
                        .arg(nombre));
}

QByteArray leer_final_de_archivo(const QString& nombre, qint64 maximo, bool& recortado) {
    const QByteArray ruta = QFile::encodeName(nombre);
    const Descriptor f(::open(ruta.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (f.fd() < 0 || ::fstat(f.fd(), &st) != 0 || !S_ISREG(st.st_mode))
        throw Fallo(QStringLiteral("No se pudo leer \"%1\" como archivo normal").arg(nombre));
    recortado = st.st_size > maximo;
    if (recortado && ::lseek(f.fd(), st.st_size - maximo, SEEK_SET) < 0)
        throw Fallo(
            QStringLiteral("No se pudo leer el archivo \"%1\": %2").arg(nombre, razon(errno)));
    QByteArray datos = leer_hasta(f.fd(), nombre, maximo);
    if (recortado) {
        // The first line was cut in two: it starts after its end.
        const qsizetype fin = datos.indexOf('\n');
        datos = fin < 0 ? QByteArray() : datos.mid(fin + 1);
    }
    return datos;
}

void reemplazar_sin_enlaces(const QString& nombre, const QByteArray& contenido) {
    const QFileInfo info(nombre);
    const QByteArray carpeta = QFile::encodeName(info.absolutePath());
    const QByteArray base = QFile::encodeName(info.fileName());
    const Descriptor dir(::open(carpeta.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd() < 0)
        throw Fallo(QStringLiteral("No se pudo abrir la carpeta \"%1\": %2")
                        .arg(info.absolutePath(), razon(errno)));
    QByteArray temporal;
    int fd = -1;
    for (int intento = 0; intento < 100 && fd < 0; ++intento) {
        temporal =
            '.' + base + '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        fd = ::openat(dir.fd(), temporal.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw Fallo(
            QStringLiteral("No se pudo crear el archivo \"%1\": %2").arg(nombre, razon(errno)));
    const Descriptor f(fd);
    if (!escribir_todo(f.fd(), contenido) ||
        ::renameat(dir.fd(), temporal.constData(), dir.fd(), base.constData()) != 0) {
        const int error = errno;
        ::unlinkat(dir.fd(), temporal.constData(), 0);
        throw Fallo(
            QStringLiteral("No se pudo escribir el archivo \"%1\": %2").arg(nombre, razon(error)));
    }
}

void escribir_en_su_sitio(const QString& nombre, const QByteArray& contenido) {
    const QByteArray ruta = QFile::encodeName(nombre);
    const Descriptor f(
        ::open(ruta.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
    if (f.fd() < 0 || !escribir_todo(f.fd(), contenido))
        throw Fallo(
            QStringLiteral("No se pudo escribir el archivo \"%1\": %2").arg(nombre, razon(errno)));
}

void anexar_entero(const QString& nombre, const QByteArray& contenido) {
    const QByteArray ruta = QFile::encodeName(nombre);
    const Descriptor f(
        ::open(ruta.constData(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0666));
    struct stat st {};
    if (f.fd() < 0 || ::fstat(f.fd(), &st) != 0)
        throw Fallo(QStringLiteral("No se pudo escribir \"%1\": %2").arg(nombre, razon(errno)));
    if (!escribir_todo(f.fd(), contenido)) {
        const int error = errno;
        // Half a line would glue the next one onto it. Should taking it back
        // fail too, the reason given is still the first one.
        if (S_ISREG(st.st_mode)) {
            [[maybe_unused]] const int devuelto = ::ftruncate(f.fd(), st.st_size);
        }
        throw Fallo(QStringLiteral("No se pudo escribir \"%1\": %2").arg(nombre, razon(error)));
    }
}

} // namespace quarvel
