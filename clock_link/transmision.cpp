#include "clock_link/transmision.h"

#include "clock_link/codificacion.h"
#include "platform/numeros.h"

namespace quarvel {

double numero_de_pieza(const QString& texto, int desde, int largo) {
    return numero_de_texto(texto.mid(desde - 1, largo));
}

double numero_final(const QString& texto, int largo) {
    return numero_de_texto(texto.right(largo));
}

const std::optional<int>& DatosEnvio::valor(Campo campo) const {
    switch (campo) {
    case Campo::Dia:
        return dia;
    case Campo::Mes:
        return mes;
    case Campo::Anio:
        return anio;
    case Campo::Hora:
        return hora;
    case Campo::Minutos:
        return minutos;
    case Campo::Segundos:
        break;
    }
    return segundos;
}

DatosEnvio datos_de_envio(const QDateTime& t) {
    const QDate d = t.date();
    const QTime h = t.time();
    DatosEnvio r;
    r.dia = eval_dato_dia(d.day());
    r.mes = eval_dato_mes(d.month());
    r.anio = eval_dato_anio(d.year() % 100);
    r.hora = eval_dato_hora(h.hour());
    r.minutos = eval_dato_minutos(h.minute());
    r.segundos = eval_dato_segundos(h.second());
    return r;
}

} // namespace quarvel
