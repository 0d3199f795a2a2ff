#include "clock_link/seguimiento.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>

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

bool hora_valida(const LecturaReloj& l) {
    return tiempo_del_reloj(l) >= 0;
}

void SeguimientoReloj::puesta(qint64 t_us, double desvio_s) {
    antes_de_puesta_ = estimador_;
    desde_puesta_.clear();
    puesta_confirmada_ = false;
    estimador_.puesta(t_us, desvio_s);
    ventana_.puesta(t_us, desvio_s);
}

void SeguimientoReloj::sembrar(const Aprendido& a, qint64 ahora_s) {
    const auto [d_lo, d_hi] = deriva_envejecida(a, ahora_s);
    ventana_.sembrar_deriva(d_lo, d_hi);
    const auto& l = estimador_.limites();
    const auto lat = a.latencia_s.value_or(std::pair{0.0, l.latencia_max_s});
    estimador_.sembrar(lat.first, lat.second, d_lo, d_hi);
}

std::optional<Aprendido> SeguimientoReloj::aprendido(qint64 t_us, const QString& clave) const {
    const auto e = en(t_us);
    if (!e.valida || !estable(kLecturasTranquilas) ||
        e.cota_deriva >= estimador_.limites().deriva_max / 2)
        return std::nullopt;
    Aprendido a;
    a.clave = clave;
    a.cuando_s = t_us / 1'000'000;
    a.deriva_lo = e.deriva - e.cota_deriva;
    a.deriva_hi = e.deriva + e.cota_deriva;
    a.latencia_s = estimador_.latencia_aprendida();
    return a;
}

bool SeguimientoReloj::aparato_constante() const {
    // The latency model assumes a steady device: where the windows wander
    // more than its jitter allows, it is not used at all.
    return ventana_.dispersion_ventanas_s() <=
           2 * estimador_.limites().fluctuacion_s + kHolguraVentanas_s;
}

qint64 SeguimientoReloj::momento_de_lectura(qint64 desde_us) const {
    const qint64 fin = (desde_us / 1'000'000 + 1) * 1'000'000 - kMargenFinDeSegundoUs;
    // A tick that came that late leaves no safe moment to choose: the request
    // goes at once and tells what it can.
    if (desde_us >= fin)
        return desde_us;
    // The latency model aims where it is trusted and the accounts agree;
    // otherwise, and every other read once it is narrow, the windows aim:
    // between accounts, through their middle, or just past an edge.
    // Until a few windows have shown whether the device is steady, it is
    // taken to be for aiming: that costs nothing true, and a wide window
    // aims no better. Not on a drift from an earlier run not yet borne out:
    // the model believes it too, and only the windows look past it.
    const bool constante = aparato_constante() ||
                           (std::isinf(ventana_.dispersion_ventanas_s()) && !estimador_.sembrado());
    const bool modelo = ventana_.decidido() && estimador_.en(desde_us).valida &&
                        estimador_.sin_antecedentes() && constante;
    const double w_s = ventana_.ventana_esperada_s();
    // Once what is shown is about a window wide, every read looks just past
    // one of its edges, the upper and the lower by turns: a knock either way
    // shows within two reads, and where the model narrows what the windows
    // allow, its edges are the ones tested.
    const auto e = en(desde_us);
    // Wider, the model splits what it allows every other read and the
    // windows look past their edges between, each by turns.
    const bool arriba = modelo ? (lecturas_ / 2) % 2 == 0 : lecturas_ % 2 == 0;
    auto obj = ventana_.lecturas() > 0 ? ventana_.objetivo(desde_us, arriba)
                                       : std::optional<EstimadorVentana::Objetivo>{};
    constexpr double kPasado_s = EstimadorVentana::kPasadoElBorde_s;
    if (obj && obj->borde && e.valida && e.cota_s <= w_s / 2 + 2 * kPasado_s) {
        const double paso = w_s / 2 + kPasado_s;
        obj->desvio_s =
            lecturas_ % 2 == 0 ? e.desvio_s + e.cota_s + paso : e.desvio_s - e.cota_s - paso;
    } else if (!obj || (modelo && (!obj->borde || lecturas_ % 2 == 1))) {
        return estimador_.momento_de_lectura(desde_us, fin);
    }
    const double w_us = w_s * 1e6;
    // The reply's second turns where s + offset crosses a whole second, s
    // somewhere in the window [t, t + W]: t = B - x - W / 2 puts the window's
    // middle on the target offset x.
    const double x_us = obj->desvio_s * 1e6 + w_us / 2;
    const double cruce = std::ceil((static_cast<double>(desde_us) + x_us) / 1e6) * 1e6;
    const auto t =
        std::clamp(static_cast<qint64>(std::llround(cruce - x_us)), desde_us, desde_us + 999'999);
    if (t <= fin)
        return t;
    // The crossing falls outside what may be asked (a clock near the PC's
    // own second, answering at once): each end by turns, so that the early
    // one bounds the offset from below and the late one from above.
    return lecturas_ % 4 < 2 ? fin : desde_us;
}

EstimadorDesvio::Estimacion SeguimientoReloj::en(qint64 t_us) const {
    const auto v = ventana_.en(t_us);
    const auto p = estimador_.en(t_us);
    // No window known (a port with no timing): the latency model alone.
    // Windows on probation after a false reply: nothing.
    if (ventana_.lecturas() == 0)
        return p;
    // A device that gave false replies (the latency model's record) and has
    // contradicted the windows lately: false replies in a row can drop a
    // true account, so the windows are no safer than the model's probation.
    if (!estimador_.sin_antecedentes() && ventana_.desde_contradiccion() <= kEpisodiosRecientes)
        return p;
    if (!v.valida || !p.valida || !estimador_.sin_antecedentes() || !aparato_constante())
        return v;
    const double v_lo = v.desvio_s - v.cota_s;
    const double v_hi = v.desvio_s + v.cota_s;
    EstimadorDesvio::Estimacion r = v;
    // The latency model's point where it has one: it weighs what the
    // windows cannot (L). The bound stays the windows' until the model has
    // held a while since anything was seen: a knock it had not seen may
    // have been learnt as drift or latency.
    double lo = v_lo;
    double hi = v_hi;
    if (ventana_.decidido() && puesta_confirmada_ && tranquilas_ >= kLecturasTranquilas) {
        lo = std::max(lo, p.desvio_s - p.cota_s);
        hi = std::min(hi, p.desvio_s + p.cota_s);
        // None in common: the model is wrong about this device.
        if (lo > hi)
            return v;
        const double d_lo = std::max(p.deriva - p.cota_deriva, v.deriva - v.cota_deriva);
        const double d_hi = std::min(p.deriva + p.cota_deriva, v.deriva + v.cota_deriva);
        if (d_lo <= d_hi) {
            r.deriva = std::clamp(p.deriva, d_lo, d_hi);
            r.cota_deriva = std::max(r.deriva - d_lo, d_hi - r.deriva);
        }
    }
    r.desvio_s = std::clamp(p.desvio_s, lo, hi);
    r.cota_s = std::max(r.desvio_s - lo, hi - r.desvio_s);
    return r;
}

Registro SeguimientoReloj::lectura(qint64 t_us, const LecturaReloj& reloj, bool completa,
                                   bool error_puerto, bool equivocado, const EstadoPc& pc,
                                   qint64 escritura_us, qint64 llegada_us) {
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
            ++lecturas_;
            r.veredicto = estimador_.lectura(t_us, reloj_s, escritura_us);
            if (antes_de_puesta_)
                desde_puesta_.push_back({t_us, reloj_s, escritura_us});
            // The seconds byte came before the reply's closing byte. A reply
            // whole sooner than both messages can cross the line has no
            // timing to go by (a port that does not tell it).
            const double byte_us = estimador_.limites().byte_s * 1e6;
            if (llegada_us > 0 && static_cast<double>(llegada_us - t_us) >= 16 * byte_us) {
                const qint64 hasta = llegada_us - static_cast<qint64>(std::llround(byte_us));
                r.suceso = ventana_.lectura(t_us, hasta, reloj_s);
                using V = EstimadorDesvio::Veredicto;
                if (r.veredicto == V::Contradiccion || r.veredicto == V::ModeloRoto)
                    ventana_.sospecha(t_us, hasta, reloj_s);
            }
            using S = EstimadorVentana::Suceso;
            if (r.suceso == S::PuestaNoTomada && antes_de_puesta_) {
                // The latency model as if the set had not been made.
                estimador_ = *antes_de_puesta_;
                for (const Leida& l : desde_puesta_)
                    estimador_.lectura(l.t_us, l.reloj_s, l.escritura_us);
            } else if (r.suceso != S::Ninguno && r.suceso != S::PuestaConfirmada) {
                // The windows saw the clock moved, or a false reply: the
                // latency model may not have (its band is wider), and may
                // have learnt an unseen knock as drift or latency. It starts
                // again, within its limits as they stand.
                estimador_.olvidar_lo_aprendido();
            }
            if (r.suceso == S::PuestaConfirmada)
                puesta_confirmada_ = true;
            if (r.suceso == S::PuestaNoTomada || r.suceso == S::PuestaConfirmada ||
                desde_puesta_.size() > 50) {
                antes_de_puesta_.reset();
                desde_puesta_.clear();
            }
            // A steady device read its clock inside each window: L is no
            // later than the widest of the last few, plus the jitter. Not
            // while a set is unconfirmed: a set that did not take would
            // read as a latency beyond it, and break the model.
            estimador_.acotar_latencia(puesta_confirmada_ && aparato_constante()
                                           ? ventana_.ventana_esperada_s() +
                                                 estimador_.limites().fluctuacion_s
                                           : std::numeric_limits<double>::infinity());
            const bool tranquila = r.veredicto == EstimadorDesvio::Veredicto::Coherente &&
                                   (r.suceso == S::Ninguno || r.suceso == S::PuestaConfirmada);
            tranquilas_ = tranquila ? tranquilas_ + 1 : 0;
            r.estimacion = en(t_us);
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
    // Beyond the threshold by the estimate, and surely beyond half of it,
    // now or by the next read-back as the drift carries it. Not merely
    // possibly beyond: a clock set whenever the bound is wide would be set
    // for nothing. Not surely beyond the whole threshold either: that waits
    // for the offset to pass it by the bound, and a slow clock whose bound
    // is tens of ms would go uncorrected for hours.
    const auto fuera = [&](double desvio_s, double cota_s) {
        return std::abs(desvio_s) > umbral && std::abs(desvio_s) - cota_s > umbral / 2;
    };
    return fuera(e.desvio_s, e.cota_s) || fuera(e.desvio_s + e.deriva * intervalo_s,
                                                e.cota_s + e.cota_deriva * std::abs(intervalo_s));
}

double desvio_tras_correccion_fina(const EstimadorDesvio::Estimacion& e, double umbral_ms) {
    if (!e.valida || umbral_ms <= 0 || std::abs(e.deriva) <= e.cota_deriva)
        return 0;
    // The drift's estimate, not its bound: a clock that gains less than
    // thought only takes longer to reach the threshold.
    constexpr double kMitadDelPeriodo_s = 300;
    const double x = std::min(umbral_ms / 1000, std::abs(e.deriva) * kMitadDelPeriodo_s);
    return e.deriva > 0 ? -x : x;
}

} // namespace quarvel
