#include "clock_link/config_linea.h"

#include "platform/fallo.h"

#include <QStringList>

namespace quarvel {

ConfigLinea validar_settings(const QString& settings) {
    const QStringList campos = settings.split(u',');
    if (campos.size() != 4)
        throw Fallo(QStringLiteral("Configuración del puerto no válida: \"%1\" (se esperaba "
                                   "velocidad,paridad,datos,parada)")
                        .arg(recortado(settings)));
    ConfigLinea c;
    bool ok = false;
    const long baudios = campos[0].toLong(&ok);
    if (!ok || baudios < 50 || baudios > 4000000)
        throw Fallo(QStringLiteral("Velocidad del puerto no válida: \"%1\" (50 a 4000000)")
                        .arg(recortado(campos[0])));
    c.baudios = static_cast<int>(baudios);
    const QString paridad = campos[1].toUpper();
    if (paridad.size() != 1 || !QStringLiteral("NEOMS").contains(paridad))
        throw Fallo(
            QStringLiteral("Paridad no válida: \"%1\" (N, E, O, M o S)").arg(recortado(campos[1])));
    c.paridad = paridad[0].toLatin1();
    const int datos = campos[2].toInt(&ok);
    if (!ok || datos < 5 || datos > 8 || campos[2].size() != 1)
        throw Fallo(
            QStringLiteral("Bits de datos no válidos: \"%1\" (5 a 8)").arg(recortado(campos[2])));
    c.datos = datos;
    if (campos[3] == QStringLiteral("1"))
        c.parada = 1;
    else if (campos[3] == QStringLiteral("1.5"))
        c.parada = 15;
    else if (campos[3] == QStringLiteral("2"))
        c.parada = 2;
    else
        throw Fallo(QStringLiteral("Bits de parada no válidos: \"%1\" (1, 1.5 o 2)")
                        .arg(recortado(campos[3])));
    return c;
}

} // namespace quarvel
