#include "platform/diario.h"

#include <QByteArray>
#include <unistd.h>

namespace quarvel {

namespace {

std::function<void(const QByteArray&)>& destino() {
    static std::function<void(const QByteArray&)> d;
    return d;
}

} // namespace

void diario(Prioridad prioridad, const QString& texto) {
    // One line: whatever breaks it would start a line of no priority.
    QString una = texto;
    una.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray linea =
        '<' + QByteArray::number(static_cast<int>(prioridad)) + '>' + una.toUtf8() + '\n';
    anotar_en_archivo_del_diario(prioridad, una);
    if (destino()) {
        destino()(linea);
        return;
    }
    // A single write, so lines of two threads never mix.
    qsizetype hecho = 0;
    while (hecho < linea.size()) {
        const ssize_t n = ::write(STDERR_FILENO, linea.constData() + hecho,
                                  static_cast<std::size_t>(linea.size() - hecho));
        if (n <= 0)
            return; // nowhere to write: the event is lost, nothing else
        hecho += n;
    }
}

void desviar_diario(std::function<void(const QByteArray& linea)> d) {
    destino() = std::move(d);
}

} // namespace quarvel
