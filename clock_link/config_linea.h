#pragma once

#include <QString>

namespace quarvel {

// A port's line settings, read from "baud,parity,data,stop".
struct ConfigLinea {
    int baudios = 9600;
    char paridad = 'N';
    int datos = 8;
    // 1, 15 (one and a half) or 2.
    int parada = 1;
};

// Throws Fallo naming the bad field.
ConfigLinea validar_settings(const QString& settings);

} // namespace quarvel
