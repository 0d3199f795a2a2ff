#include "platform/archivos.h"
#include "platform/archivos_sistema.h"
#include "platform/fallo.h"

#include <QSaveFile>

namespace quarvel {

void reemplazar_archivo(const QString& nombre, const QByteArray& contenido) {
    comprobar_reemplazable(nombre);
    // Unbuffered, so a short write (disk full, size limit) shows in the count
    // instead of being lost in a flush at commit.
    QSaveFile f(nombre);
    f.setDirectWriteFallback(true);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Fallo(
            QStringLiteral("No se pudo crear el archivo \"%1\": %2").arg(nombre, f.errorString()));
    if (f.write(contenido) != contenido.size()) {
        const QString error = f.errorString();
        f.cancelWriting();
        throw Fallo(QStringLiteral("No se pudo escribir el archivo \"%1\": %2").arg(nombre, error));
    }
    if (!f.commit())
        throw Fallo(QStringLiteral("No se pudo escribir el archivo \"%1\": %2")
                        .arg(nombre, f.errorString()));
}

} // namespace quarvel
