#pragma once

#include "clock_link/protocolo.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace quarvel {

// The number a piece of a display text begins with: `largo` characters from
// position `desde` (counted from 1); characters past the end are missing.
double numero_de_pieza(const QString& texto, int desde, int largo);
// The same for the last `largo` characters.
double numero_final(const QString& texto, int largo);

// The six values of a setting of the clock, each encoded or without value.
struct DatosEnvio {
    std::optional<int> dia, mes, anio, hora, minutos, segundos;
    bool completos() const { return dia && mes && anio && hora && minutos && segundos; }
    const std::optional<int>& valor(Campo campo) const;
};

// The sender's six values for a date and time: the year by its last two
// digits.
DatosEnvio datos_de_envio(const QDateTime& t);

} // namespace quarvel
