#pragma once

#include <QByteArray>
#include <QString>

namespace quarvel {

// Positions (from 1) of day, month, year, hour, minute and second in the
// clock's reply.
inline constexpr int kPosicionesRespuesta[6] = {4, 6, 8, 10, 12, 14};

// The reply is complete once it holds a capital "S" outside the value
// positions: a value byte of 0x53 (minute 53, the year 2053) is a value, not
// the closing "S". `trozo` is what arrived after the reply's first `antes`
// bytes.
bool respuesta_completa(const QByteArray& trozo, qsizetype antes = 0);

struct LecturaReloj {
    int dia = 0, mes = 0, anio = 0, hora = 0, minuto = 0, segundo = 0;
};

// Decodes the six value bytes of "salida.txt"'s content; a position past its
// end reads as the byte 0.
LecturaReloj decodificar_salida(const QByteArray& contenido);

// "DD/MM/YYYY" of the clock's date, its two-digit year taken as 20yy. Numbers
// that make no date come back joined as they are ("45/13/8"), which never
// equals a displayed date.
QString texto_fecha_reloj(const LecturaReloj& l);
// "HH:MM:SS", or the numbers joined two digits wide when they make no time
// ("14:05:90").
QString texto_hora_reloj(const LecturaReloj& l);

// Wrong when the dates differ or the hours and minutes do; seconds never
// count.
bool reloj_equivocado(const QString& fecha_reloj, const QString& hora_reloj,
                      const QString& fecha_pc, const QString& hora_chequeo);

// The mismatch line of "sincro.txt", CR LF included.
QByteArray linea_sincro(const QString& fecha_reloj, const QString& fecha_pc,
                        const QString& hora_reloj, const QString& hora_chequeo);

} // namespace quarvel
