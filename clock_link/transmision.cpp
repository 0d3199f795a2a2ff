#include "clock_link/transmision.h"

#include "clock_link/codificacion.h"
#include "platform/numeros.h"

namespace quarvel {

double numero_de_pieza(const QString& texto, int desde, int largo) {
    if (desde == 0)
        return numero_de_texto(texto.right(largo));
    return numero_de_texto(texto.mid(desde - 1, largo));
}

std::optional<int> segundos_de_envio(const QString& hora, Segundo segundo) {
    const double s = numero_de_pieza(hora, 0, 2);
    return eval_dato_segundos(segundo == Segundo::Siguiente ? segundo_siguiente(s) : s);
}

DatosEnvio cargar_datos_envio(const QString& fecha, const QString& hora, Segundo segundo) {
    DatosEnvio d;
    d.dia = eval_dato_dia(numero_de_pieza(fecha, 1, 2));
    d.mes = eval_dato_mes(numero_de_pieza(fecha, 4, 2));
    d.anio = eval_dato_anio(numero_de_pieza(fecha, 0, 2));
    d.hora = eval_dato_hora(numero_de_pieza(hora, 1, 2));
    d.minutos = eval_dato_minutos(numero_de_pieza(hora, 4, 2));
    d.segundos = segundos_de_envio(hora, segundo);
    return d;
}

} // namespace quarvel
