#include "clock_link/codificacion.h"

#include <cmath>

namespace quarvel {

namespace {

// The whole numbers with two packed decimal digits. Years from 2060 need the
// digits 6 to 9 too.
constexpr int kMayorDosCifras = 99;

std::optional<int> codificar(double dato) {
    std::optional<int> resultado;
    for (int k = 0; k <= kMayorDosCifras; ++k) {
        if (dato == k)
            resultado = bcd(k);
    }
    return resultado;
}

int decena(double dato) {
    for (int d = 0; d <= kMayorDosCifras / 10; ++d) {
        if (dato >= d * 10 && dato <= d * 10 + 9)
            return d;
    }
    return 0;
}

} // namespace

std::optional<int> eval_dato_dia(double dato) {
    return codificar(dato);
}
std::optional<int> eval_dato_mes(double dato) {
    return codificar(dato);
}
std::optional<int> eval_dato_anio(double dato) {
    return codificar(dato);
}
std::optional<int> eval_dato_hora(double dato) {
    return codificar(dato);
}
std::optional<int> eval_dato_minutos(double dato) {
    return codificar(dato);
}
std::optional<int> eval_dato_segundos(double dato) {
    return codificar(dato);
}

char byte_de_valor(const std::optional<int>& valor) {
    return static_cast<char>(valor.value_or(0));
}

QByteArray eval_dato_salida(double dato) {
    const double valor = dato + 6 * decena(dato);
    // Whole number, half to even, wrapped to one byte like a character code.
    const long entero = std::lrint(valor);
    return QByteArray(1, static_cast<char>(static_cast<unsigned char>(entero & 0xFF)));
}

int eval_dato_entrada(int dato) {
    int decenas = 0;
    for (int d = 0; d <= kMayorDosCifras / 10; ++d) {
        if (dato >= d * 16 && dato <= d * 16 + 9) {
            decenas = d;
            break;
        }
    }
    return dato - 6 * decenas;
}

} // namespace quarvel
