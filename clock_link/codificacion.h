#pragma once

#include <QByteArray>
#include <optional>

namespace quarvel {

// Packed decimal of a whole number 0 to 99: tens in the high nibble.
constexpr int bcd(int n) {
    return 16 * (n / 10) + n % 10;
}

// The sender's encoders: only the whole numbers 0 to 99 have a value.
std::optional<int> eval_dato_dia(double dato);
std::optional<int> eval_dato_mes(double dato);
std::optional<int> eval_dato_anio(double dato);
std::optional<int> eval_dato_hora(double dato);
std::optional<int> eval_dato_minutos(double dato);
std::optional<int> eval_dato_segundos(double dato);

// How a sender value goes on the line: no value is the byte 0x00.
char byte_de_valor(const std::optional<int>& valor);

// The checker's encoder: a one-character text; 0 to 99 in packed decimal (60
// gives 0x60), other numbers pass through unchanged (100 gives 0x64).
QByteArray eval_dato_salida(double dato);

// The checker's decoder of one reply byte: packed decimal 0x00 to 0x99 back
// to 0 to 99; other bytes as before (0x1A gives 26, 0xFF 255).
int eval_dato_entrada(int dato);

} // namespace quarvel
