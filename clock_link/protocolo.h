#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <cstddef>
#include <functional>
#include <optional>

namespace quarvel {

class PuertoSerie;

// The clock's command set, in one place.

// What a step of a set carries.
enum class Campo { Dia, Mes, Anio, Hora, Minutos, Segundos };

// One step of a set: its letter and the field whose value byte follows it.
struct PasoProtocolo {
    char letra;
    Campo campo;
};

// The six steps of a set, in their order: day, month, year (two digits),
// hour, minute, and last the seconds, whose value starts the clock.
inline constexpr std::array<PasoProtocolo, 6> kPasosDeCadena{{
    {'D', Campo::Dia},
    {'M', Campo::Mes},
    {'Y', Campo::Anio},
    {'H', Campo::Hora},
    {'m', Campo::Minutos},
    {'S', Campo::Segundos},
}};
inline constexpr std::size_t kPasoSegundos = kPasosDeCadena.size() - 1;

// The field's number in a date and time: the year by its last two digits.
int valor_de_campo(const QDateTime& t, Campo campo);

// "C" "W", which ends a set; "C" "X", which asks for the date and time.
inline const QByteArray kComandoGrabar = QByteArrayLiteral("CW");
inline const QByteArray kComandoLeer = QByteArrayLiteral("CX");

// What the clock's display shows.
enum class ModoPantalla { FechaYHora, Hora };

// "C" "F" for the date and time, "C" "H" for the time only.
QByteArray comando_de_modo(ModoPantalla modo);
// The window's caption for a mode, and back (none for any other caption).
QString leyenda_de_modo(ModoPantalla modo);
std::optional<ModoPantalla> modo_de_leyenda(const QString& leyenda);
ModoPantalla otro_modo(ModoPantalla modo);

// The read-back's wait: 2000 passes of about a millisecond each, more on a
// line too slow to bring the reply's 15 bytes in that time.
int pasos_de_espera(double us_por_byte);

// What a read-back brought: the reply's first bytes, up to a cap, and
// whether it was complete before the wait ended.
struct Respuesta {
    QByteArray bytes;
    bool completa = false;
};

// The read-back on an open port: "C" "X" has gone out; the reply is gathered
// until it is complete or the bounded wait ends. Each pass calls `pasada`
// first (which lets pending events run) and ends the wait early when it
// gives false, or when the port is not open.
Respuesta esperar_respuesta(PuertoSerie& puerto, double us_por_byte,
                            const std::function<bool()>& pasada);

} // namespace quarvel
