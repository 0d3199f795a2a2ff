#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace quarvel {

// The number a text begins with: leading blanks skipped, then an optional
// sign, digits and a decimal part; 0 when the text begins with no number.
// "5 min" is 5, "  7" is 7, "abc" is 0.
double numero_de_texto(const QString& texto);

// Strict conversion of a settings value to a whole number: surrounding spaces
// allowed, rounded half to even; an absent value is 0; an empty or
// non-numeric text throws Fallo naming `nombre`.
long entero_estricto(const std::optional<QString>& valor, const QString& nombre);

// The port number as a 16-bit integer; out of range throws Fallo.
std::int16_t a_entero16(long valor, const QString& nombre);

} // namespace quarvel
