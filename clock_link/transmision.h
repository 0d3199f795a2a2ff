#pragma once

#include <QString>
#include <optional>

namespace quarvel {

// The number a piece of a display text begins with: `largo` characters from
// position `desde` (counted from 1), or the last `largo` characters when
// `desde` is 0. Characters past the end are simply missing.
double numero_de_pieza(const QString& texto, int desde, int largo);

// The six values of a setting of the clock, each encoded or without value.
struct DatosEnvio {
    std::optional<int> dia, mes, anio, hora, minutos, segundos;
    bool completos() const { return dia && mes && anio && hora && minutos && segundos; }
};

enum class Segundo { ComoSeLee, Siguiente };

// Loads the send values from the date text "DD/MM/YYYY" and the time text
// "HH:MM:SS" by character position. Segundo::Siguiente sends the second
// after the displayed one, kept at 59 at the end of a minute.
DatosEnvio cargar_datos_envio(const QString& fecha, const QString& hora, Segundo segundo);

// The seconds of a time text, as the periodic send encodes them.
std::optional<int> segundos_de_envio(const QString& hora, Segundo segundo);

} // namespace quarvel
