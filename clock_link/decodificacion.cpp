#include "clock_link/decodificacion.h"

#include "clock_link/codificacion.h"

#include <QDate>
#include <algorithm>
#include <iterator>

namespace quarvel {

bool respuesta_completa(const QByteArray& trozo, qsizetype antes) {
    for (qsizetype i = trozo.indexOf('S'); i >= 0; i = trozo.indexOf('S', i + 1)) {
        const qsizetype pos = antes + i + 1;
        if (std::find(std::begin(kPosicionesRespuesta), std::end(kPosicionesRespuesta), pos) ==
            std::end(kPosicionesRespuesta))
            return true;
    }
    return false;
}

LecturaReloj decodificar_salida(const QByteArray& contenido) {
    int v[6];
    for (int i = 0; i < 6; ++i) {
        const qsizetype pos = kPosicionesRespuesta[i] - 1;
        const int byte = pos < contenido.size() ? static_cast<unsigned char>(contenido[pos]) : 0;
        v[i] = eval_dato_entrada(byte);
    }
    return LecturaReloj{v[0], v[1], v[2], v[3], v[4], v[5]};
}

QString texto_fecha_reloj(const LecturaReloj& l) {
    // The clock keeps two year digits; every year it can hold is this century.
    if (l.anio >= 0 && l.anio <= 99) {
        const QDate d(2000 + l.anio, l.mes, l.dia);
        if (d.isValid())
            return d.toString(QStringLiteral("dd/MM/yyyy"));
    }
    return QStringLiteral("%1/%2/%3").arg(l.dia).arg(l.mes).arg(l.anio);
}

QString texto_hora_reloj(const LecturaReloj& l) {
    // Two digits each whatever the others hold: the comparison reads the
    // first five characters as hours and minutes.
    const auto dos = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return dos(l.hora) + u':' + dos(l.minuto) + u':' + dos(l.segundo);
}

bool reloj_equivocado(const QString& fecha_reloj, const QString& hora_reloj,
                      const QString& fecha_pc, const QString& hora_chequeo) {
    return fecha_reloj != fecha_pc || hora_reloj.left(5) != hora_chequeo.left(5);
}

QByteArray linea_sincro(const QString& fecha_reloj, const QString& fecha_pc,
                        const QString& hora_reloj, const QString& hora_chequeo) {
    const QString linea = QStringLiteral("fecha reloj : ") + fecha_reloj +
                          QStringLiteral("  fecha prog : ") + fecha_pc +
                          QStringLiteral("  hora reloj : ") + hora_reloj +
                          QStringLiteral("  hora prog : ") + hora_chequeo;
    return linea.toLatin1() + "\r\n";
}

} // namespace quarvel
