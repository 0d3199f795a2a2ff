// The [COM_CFG] text: split into its fields and validated for the port, on
// any Latin-1 text (the settings files are one byte per character).
#include "fuzz/apoyo_fuzz.h"

#include "clock_link/puerto_serie.h"
#include "platform/fallo.h"
#include "settings/archivos_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    const QString texto = QString::fromLatin1(quarvel_fuzz::bytes(datos, largo));

    bool separado = false;
    quarvel::config_com partes;
    try {
        partes = quarvel::separar_config_com(texto);
        separado = true;
        EXIGIR(partes.parity.size() == 1 && partes.data.size() == 1 && partes.stop.size() == 1);
        EXIGIR(!partes.baud.contains(u','));
    } catch (const quarvel::Fallo&) {
        EXIGIR(texto.count(u',') < 3);
    }

    try {
        const quarvel::ConfigLinea linea = quarvel::validar_settings(texto);
        // Whatever the port accepts, the configuration window can split, and
        // both read the same speed, parity and data bits.
        EXIGIR(separado);
        EXIGIR(partes.baud.toLong() == linea.baudios);
        EXIGIR(partes.parity.toUpper() == QString(QChar(QLatin1Char(linea.paridad))));
        EXIGIR(partes.data.toInt() == linea.datos);
        EXIGIR(linea.parada == 1 || linea.parada == 15 || linea.parada == 2);
    } catch (const quarvel::Fallo&) {
    }

    // Round trip: a comma-free speed and three single characters free of
    // commas, joined and split again, come back as they were.
    if (largo >= 3) {
        auto sin_coma = [](std::uint8_t b) {
            return QString(QChar(QLatin1Char(b == ',' ? ';' : static_cast<char>(b))));
        };
        const QString parity = sin_coma(datos[0]);
        const QString data = sin_coma(datos[1]);
        const QString stop = sin_coma(datos[2]);
        QString baud = QString::fromLatin1(quarvel_fuzz::bytes(datos + 3, largo - 3));
        baud.replace(u',', u';');
        const QString unido = quarvel::unir_config_com(baud, parity, data, stop);
        const quarvel::config_com vuelta = quarvel::separar_config_com(unido);
        EXIGIR(vuelta.baud == baud);
        EXIGIR(vuelta.parity == parity);
        EXIGIR(vuelta.data == data);
        EXIGIR(vuelta.stop == stop);
    }
    return 0;
}
