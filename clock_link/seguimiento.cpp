#include "clock_link/seguimiento.h"

#include <QDateTime>
#include <cmath>

namespace quarvel {

namespace {

qint64 tiempo_del_reloj(const LecturaReloj& l) {
    // The clock's two-digit year, as the comparison takes it.
    const QDate fecha(2000 + l.anio, l.mes, l.dia);
    const QTime hora(l.hora, l.minuto, l.segundo);
    if (!fecha.isValid() || !hora.isValid())
        return -1;
    return QDateTime(fecha, hora).toSecsSinceEpoch();
}

} // namespace

qint64 SeguimientoReloj::momento_de_lectura(qint64 desde_us) const {
    const qint64 fin = (desde_us / 1'000'000 + 1) * 1'000'000 - kMargenFinDeSegundoUs;
    // A tick that came that late leaves no safe moment to choose: the request
    // goes at once and tells what it can.
    return desde_us >= fin ? desde_us : estimador_.momento_de_lectura(desde_us, fin);
}

Registro SeguimientoReloj::lectura(qint64 t_us, const LecturaReloj& reloj, bool completa,
                                   bool error_puerto, bool equivocado, const EstadoPc& pc,
                                   qint64 escritura_us) {
    Registro r;
    r.t_us = t_us;
    if (pc.conocido)
        r.pc_sincronizado = pc.sincronizado;
    r.accion = equivocado ? Accion::Actualizacion : Accion::Ninguna;
    if (error_puerto) {
        r.resultado = Resultado::ErrorPuerto;
    } else if (!completa) {
        r.resultado = Resultado::SinRespuesta;
    } else {
        r.resultado = equivocado ? Resultado::Mal : Resultado::Bien;
        const qint64 reloj_s = tiempo_del_reloj(reloj);
        if (reloj_s >= 0) {
            r.veredicto = estimador_.lectura(t_us, reloj_s, escritura_us);
            r.estimacion = estimador_.en(t_us);
        }
    }
    // No reply, no port, a reply that makes no time: nothing is known of the
    // clock at this moment (it may have lost power, or never been there).
    return r;
}

bool corregir_fino(const EstimadorDesvio::Estimacion& e, double umbral_ms, double intervalo_s) {
    if (!e.valida || umbral_ms <= 0)
        return false;
    const double umbral = umbral_ms / 1000;
    // Surely beyond now, or beyond by the next read-back as the drift
    // carries the estimate. Not merely possibly beyond: a set restarts what
    // the reads have learnt, and a clock set whenever the bound is wide would
    // never be known better.
    const double ahora = std::abs(e.desvio_s) - e.cota_s;
    const double despues = std::abs(e.desvio_s + e.deriva * intervalo_s) -
                           (e.cota_s + e.cota_deriva * std::abs(intervalo_s));
    return ahora > umbral || despues > umbral;
}

} // namespace quarvel
