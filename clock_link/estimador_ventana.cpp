#include "clock_link/estimador_ventana.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarvel {

namespace {

// More accounts than this are joined into their hull: still true, wider.
constexpr std::size_t kMaxCuentas = 4;
// A crystal's drift wanders with temperature: what was learnt is widened by
// this much when carried to a new account.
constexpr double kHolguraDeriva = 0.1e-6;
// Contradictions within this many reads of each other are no knock but a
// drift beyond the limits.
constexpr long kContradiccionesJuntas = 3;
constexpr double kTopeDeriva = 0.02;
// Windows wider than this (a slow device, a slow line) look past no edge:
// a look would blind a whole read to little use, and the latency model
// looks past its own, narrower edges.
constexpr double kVentanaEstrecha_s = 0.06;
constexpr double kVigilarBajo_s = 0.1;

double segundos(qint64 us) {
    return static_cast<double>(us) / 1e6;
}

} // namespace

EstimadorVentana::EstimadorVentana(const LimitesEstimador& limites)
    : limites_(limites)
    , deriva_lo_(-limites.deriva_max)
    , deriva_hi_(limites.deriva_max) {}

EstimadorVentana::Cuenta EstimadorVentana::nueva(qint64 t_us, double lo_s, double hi_s, double d_lo,
                                                 double d_hi) const {
    Cuenta c;
    c.region =
        caja(lo_s, hi_s, std::max(d_lo, -limites_.deriva_max), std::min(d_hi, limites_.deriva_max));
    c.ref_us = t_us;
    c.creada_en = lecturas_;
    return c;
}

std::pair<double, double> EstimadorVentana::rango(const Cuenta& c, qint64 t_us) const {
    return rango_en(c.region, segundos(t_us - c.ref_us));
}

void EstimadorVentana::sembrar_deriva(double d_lo, double d_hi) {
    deriva_lo_ = std::max(d_lo, -limites_.deriva_max);
    deriva_hi_ = std::min(d_hi, limites_.deriva_max);
    deriva_sembrada_ = deriva_lo_ <= deriva_hi_;
    if (!deriva_sembrada_) {
        deriva_lo_ = -limites_.deriva_max;
        deriva_hi_ = limites_.deriva_max;
    }
}

void EstimadorVentana::puesta(qint64 t_us, double desvio_s) {
    // The crystal is the same whatever the set did: the drift the accounts
    // standing allow carries over, a little wider.
    double d_lo = deriva_lo_;
    double d_hi = deriva_hi_;
    bool sembrada = deriva_sembrada_;
    if (!cuentas_.empty()) {
        d_lo = std::numeric_limits<double>::max();
        d_hi = std::numeric_limits<double>::lowest();
        sembrada = false;
        for (const Cuenta& c : cuentas_) {
            const auto [lo, hi] = rango_deriva(c.region);
            d_lo = std::min(d_lo, lo - kHolguraDeriva);
            d_hi = std::max(d_hi, hi + kHolguraDeriva);
            sembrada = sembrada || c.deriva_sembrada;
        }
    }
    // An earlier set nothing has borne out yet stays as one more account:
    // only the latest is told as taken or not.
    for (Cuenta& c : cuentas_) {
        c.de_puesta = false;
        c.previa = true;
    }
    const double e = limites_.error_puesta_s;
    Cuenta c = nueva(t_us, desvio_s - e, desvio_s + e, d_lo, d_hi);
    c.de_puesta = true;
    c.deriva_sembrada = sembrada;
    cuentas_.push_back(std::move(c));
}

EstimadorVentana::Suceso EstimadorVentana::lectura(qint64 desde_us, qint64 hasta_us,
                                                   qint64 reloj_s) {
    ++lecturas_;
    const qint64 ventana_us = std::max<qint64>(hasta_us - desde_us, 0);
    const double ventana_s = segundos(ventana_us);
    ventanas_s_.push_back(ventana_s);
    if (ventanas_s_.size() > 10)
        ventanas_s_.pop_front();
    // The device read its clock at some s in [desde, hasta] and held C
    // there: C <= s + offset(s) < C + 1. At desde, with |d| <= d_max:
    //   C - hasta - d_max * W  <=  offset(desde)  <  C + 1 - desde.
    // From integers: nothing lost to large numbers.
    const double lo = segundos(reloj_s * 1'000'000 - hasta_us) - limites_.deriva_max * ventana_s;
    const double hi = segundos((reloj_s + 1) * 1'000'000 - desde_us);

    if (cuentas_.empty()) {
        Cuenta c = nueva(desde_us, lo, hi, deriva_lo_, deriva_hi_);
        c.deriva_sembrada = deriva_sembrada_;
        cuentas_.push_back(std::move(c));
        return Suceso::Ninguno;
    }

    bool alguna = false;
    bool antes_varias = cuentas_.size() > 1;
    bool puesta_pendiente = false;
    // A knock's account takes the drift anywhere within the limits: a knock
    // unseen for a while is learnt as drift, for longer than any range of it
    // could be kept.
    bool contradicha = false;
    const std::size_t previas = cuentas_.size();
    for (std::size_t i = 0; i < previas; ++i) {
        Cuenta& c = cuentas_[i];
        puesta_pendiente = puesta_pendiente || c.de_puesta;
        Poligono cortada = cortar_banda(c.region, segundos(desde_us - c.ref_us), lo, hi);
        if (cortada.size() >= 3) {
            c.region = std::move(cortada);
            // Only contradictions in a row drop an account: one that agrees
            // again was contradicted by a false reply.
            c.faltas = 0;
            alguna = true;
        } else if (++c.faltas == 1 && !c.previa) {
            // First contradicted: this read's own account stands beside it
            // (a knock the other accounts' wider bands let pass). Not for what
            // stood before a set: the set was meant to move it.
            contradicha = true;
        }
    }
    if (alguna && contradicha) {
        Cuenta c = nueva(desde_us, lo, hi, -limites_.deriva_max, limites_.deriva_max);
        c.de_contradiccion = true;
        cuentas_.push_back(std::move(c));
    }

    Suceso suceso = Suceso::Ninguno;
    if (!alguna) {
        // Nothing known allows this reply: the clock was moved, or the reply
        // is false. Both stand until reads tell; the new account's drift as
        // above.
        const bool cercana = lecturas_ - ultima_contradiccion_ <= kContradiccionesJuntas;
        ultima_contradiccion_ = lecturas_;
        if (cercana) {
            // Twice in a few reads: the drift is not what the limits say.
            limites_.deriva_max = std::min(limites_.deriva_max * 3, kTopeDeriva);
            suceso = Suceso::ModeloRoto;
        } else {
            suceso = Suceso::Contradiccion;
        }
        // What an earlier run learnt is not carried on.
        deriva_lo_ = -limites_.deriva_max;
        deriva_hi_ = limites_.deriva_max;
        deriva_sembrada_ = false;
        Cuenta c = nueva(desde_us, lo, hi, deriva_lo_, deriva_hi_);
        c.de_contradiccion = true;
        cuentas_.push_back(std::move(c));
    }

    // Twice contradicted: gone. A set nothing agreed with, gone, did not take.
    bool puesta_caida = false;
    bool viejas_caidas = false;
    bool contradiccion_caida = false;
    for (const Cuenta& c : cuentas_) {
        if (c.faltas < 2 || !alguna)
            continue;
        if (c.de_puesta)
            puesta_caida = true;
        else if (c.de_contradiccion)
            contradiccion_caida = true;
        else
            viejas_caidas = true;
    }
    // Only when another account agreed: false replies in a row drop none.
    if (alguna)
        std::erase_if(cuentas_, [](const Cuenta& c) { return c.faltas >= 2; });

    unir_solapadas(desde_us);

    // The set did not take only if what stood before it is what is left.
    const bool previa_en_pie =
        std::any_of(cuentas_.begin(), cuentas_.end(), [](const Cuenta& c) { return c.previa; });
    puesta_caida = puesta_caida && previa_en_pie;
    if (cuentas_.size() == 1) {
        Cuenta& c = cuentas_.front();
        c.faltas = 0;
        const bool confirmada = c.de_puesta && alguna;
        c.de_puesta = c.de_puesta && !confirmada;
        if (alguna)
            c.deriva_sembrada = false;
        if (puesta_caida && !c.de_puesta) {
            ++no_tomadas_;
            suceso = Suceso::PuestaNoTomada;
        } else if (confirmada && (antes_varias || puesta_pendiente)) {
            suceso = Suceso::PuestaConfirmada;
        } else if (antes_varias && c.de_contradiccion && (viejas_caidas || puesta_caida)) {
            suceso = Suceso::Golpe;
        } else if (antes_varias && contradiccion_caida) {
            suceso = Suceso::Falsa;
        }
        if (alguna)
            c.de_contradiccion = false;
    } else if (puesta_caida) {
        ++no_tomadas_;
        suceso = Suceso::PuestaNoTomada;
    }
    // A device that gave a false reply, or contradictions close together
    // (false replies in a row can drop a true account), is not shown for a
    // while: reads
    // that must agree first, doubled at each false reply, eased off after
    // long agreement (a liar can also agree with the account it misled).
    if (suceso == Suceso::Falsa || suceso == Suceso::ModeloRoto) {
        castigo_ = std::min<long>(2000, std::max<long>(3, castigo_ * 2));
        requerido_ = castigo_;
        buenas_ = 0;
    } else if (alguna) {
        requerido_ = std::max<long>(requerido_ - 1, 0);
        if (castigo_ > 0 && ++buenas_ >= 10 * castigo_) {
            castigo_ /= 2;
            buenas_ = 0;
        }
    }
    return suceso;
}

EstimadorVentana::Cuenta EstimadorVentana::unir(const Cuenta& x, const Cuenta& y) const {
    // Their hull, counted from the later reference: true whichever held.
    const qint64 ref = std::max(x.ref_us, y.ref_us);
    std::vector<PuntoAD> puntos;
    for (const Cuenta* c : {&x, &y})
        for (const PuntoAD& v : c->region)
            puntos.push_back({v.a_s + v.deriva * segundos(ref - c->ref_us), v.deriva});
    Cuenta u = x.ref_us >= y.ref_us ? x : y;
    u.region = envolvente(std::move(puntos));
    u.ref_us = ref;
    u.faltas = std::min(x.faltas, y.faltas);
    // A set whose account meets what stood before it cannot be told as
    // taken or not: the clock was already where it put it.
    u.de_puesta = false;
    u.previa = x.previa || y.previa;
    u.de_contradiccion = x.de_contradiccion && y.de_contradiccion;
    u.deriva_sembrada = x.deriva_sembrada || y.deriva_sembrada;
    return u;
}

void EstimadorVentana::unir_solapadas(qint64 t_us) {
    // Accounts whose offsets meet cannot be told apart by a read: one
    // account, their hull. Too many to aim between: the oldest two as one.
    for (bool otra = true; otra;) {
        otra = false;
        for (std::size_t i = 0; i < cuentas_.size() && !otra; ++i) {
            for (std::size_t j = i + 1; j < cuentas_.size() && !otra; ++j) {
                // One contradicted once stays apart until the next read
                // drops it or bears it out: joined, a set that did not take
                // could never be told.
                if (cuentas_[i].faltas > 0 || cuentas_[j].faltas > 0)
                    continue;
                const auto [a_lo, a_hi] = rango(cuentas_[i], t_us);
                const auto [b_lo, b_hi] = rango(cuentas_[j], t_us);
                if (a_lo <= b_hi && b_lo <= a_hi) {
                    cuentas_[i] = unir(cuentas_[i], cuentas_[j]);
                    cuentas_.erase(cuentas_.begin() + static_cast<std::ptrdiff_t>(j));
                    otra = true;
                }
            }
        }
    }
    while (cuentas_.size() > kMaxCuentas) {
        cuentas_[1] = unir(cuentas_[0], cuentas_[1]);
        cuentas_.erase(cuentas_.begin());
    }
}

void EstimadorVentana::sospecha(qint64 desde_us, qint64 hasta_us, qint64 reloj_s) {
    if (cuentas_.empty())
        return;
    for (const Cuenta& c : cuentas_)
        if (c.de_contradiccion && c.ref_us == desde_us)
            return; // the windows saw it themselves
    const double ventana_s = segundos(std::max<qint64>(hasta_us - desde_us, 0));
    const double lo = segundos(reloj_s * 1'000'000 - hasta_us) - limites_.deriva_max * ventana_s;
    const double hi = segundos((reloj_s + 1) * 1'000'000 - desde_us);
    // The windows saw nothing, so a knock may have been read as drift for
    // longer than any range kept: the drift anywhere within the limits.
    Cuenta c = nueva(desde_us, lo, hi, -limites_.deriva_max, limites_.deriva_max);
    c.de_contradiccion = true;
    cuentas_.push_back(std::move(c));
    unir_solapadas(desde_us);
}

bool EstimadorVentana::decidido() const {
    return cuentas_.size() == 1 && !cuentas_.front().de_puesta && cuentas_.front().faltas == 0;
}

EstimadorDesvio::Estimacion EstimadorVentana::en(qint64 t_us) const {
    EstimadorDesvio::Estimacion r;
    if (cuentas_.empty() || lecturas_ == 0 || requerido_ > 0)
        return r;
    double lo = std::numeric_limits<double>::max();
    double hi = std::numeric_limits<double>::lowest();
    double d_lo = std::numeric_limits<double>::max();
    double d_hi = std::numeric_limits<double>::lowest();
    for (const Cuenta& c : cuentas_) {
        const auto [l, h] = rango(c, t_us);
        lo = std::min(lo, l);
        hi = std::max(hi, h);
        const auto [dl, dh] = rango_deriva(c.region);
        d_lo = std::min(d_lo, dl);
        d_hi = std::max(d_hi, dh);
    }
    r.valida = true;
    if (cuentas_.size() == 1) {
        // One account: its centroid, which the range's middle would bias
        // where the region is lopsided.
        const Cuenta& c = cuentas_.front();
        const PuntoAD m = centroide(c.region);
        r.desvio_s = std::clamp(m.a_s + m.deriva * segundos(t_us - c.ref_us), lo, hi);
        r.deriva = std::clamp(m.deriva, d_lo, d_hi);
    } else {
        r.desvio_s = (lo + hi) / 2;
        r.deriva = (d_lo + d_hi) / 2;
    }
    r.cota_s = std::max(r.desvio_s - lo, hi - r.desvio_s);
    r.cota_deriva = std::max(r.deriva - d_lo, d_hi - r.deriva);
    return r;
}

double EstimadorVentana::ventana_esperada_s() const {
    // Before any: both messages on the line and a prompt device's 20 ms.
    if (ventanas_s_.empty())
        return 17 * limites_.byte_s + 0.020;
    // The widest of the last few: a window planned too narrow lets a look
    // past an edge land on it.
    return *std::max_element(ventanas_s_.end() - std::min<std::ptrdiff_t>(5, ssize(ventanas_s_)),
                             ventanas_s_.end());
}

double EstimadorVentana::dispersion_ventanas_s() const {
    if (ventanas_s_.size() < 5)
        return std::numeric_limits<double>::infinity();
    const auto [lo, hi] = std::minmax_element(ventanas_s_.begin(), ventanas_s_.end());
    return *hi - *lo;
}

std::optional<EstimadorVentana::Objetivo> EstimadorVentana::objetivo(qint64 t_us,
                                                                     bool arriba) const {
    if (cuentas_.empty())
        return std::nullopt;
    const double w = ventana_esperada_s();
    struct Rango {
        double lo, hi;
        int faltas;
    };
    std::vector<Rango> r;
    for (const Cuenta& c : cuentas_) {
        const auto [lo, hi] = rango(c, t_us);
        r.push_back({lo, hi, c.faltas});
    }
    std::sort(r.begin(), r.end(), [](const Rango& a, const Rango& b) { return a.lo < b.lo; });
    const double paso = w / 2 + kPasadoElBorde_s;
    // An account the last read ruled out, beside others that agreed: the
    // next read is aimed to rule it out again (a second time drops it), just
    // past its edge away from the others; a reply that agrees with it keeps
    // it, as after a false reply.
    const auto en_falta = [](const Rango& x) { return x.faltas > 0; };
    if (r.size() > 1 && std::any_of(r.begin(), r.end(), en_falta) &&
        !std::all_of(r.begin(), r.end(), en_falta)) {
        double f_lo = std::numeric_limits<double>::max();
        double f_hi = std::numeric_limits<double>::lowest();
        double o_lo = f_lo;
        double o_hi = f_hi;
        for (const Rango& x : r) {
            double& lo = x.faltas > 0 ? f_lo : o_lo;
            double& hi = x.faltas > 0 ? f_hi : o_hi;
            lo = std::min(lo, x.lo);
            hi = std::max(hi, x.hi);
        }
        return Objetivo{f_lo + f_hi < o_lo + o_hi ? f_hi + paso : f_lo - paso, false};
    }
    // Accounts apart: the widest gap between them.
    double hueco = 0;
    double bajo = 0;
    double alto = r.front().hi;
    for (std::size_t i = 0; i + 1 < r.size(); ++i) {
        alto = std::max(alto, r[i].hi);
        if (r[i + 1].lo - alto > hueco) {
            hueco = r[i + 1].lo - alto;
            bajo = alto;
        }
    }
    // A window that fits in the gap, through its middle: the reply agrees
    // with one side only.
    if (hueco > w + 2 * kPasadoElBorde_s)
        return Objetivo{bajo + hueco / 2, false};
    if (hueco > 0) {
        // A narrower gap: through its middle, the band takes in both sides
        // every time. With the window's upper end just short of the upper
        // accounts, a reply of the earlier second rules them out; with its
        // lower end just past the lower ones, a reply of the later second
        // rules those out. Which answer comes depends on where in its window
        // the device reads: the sides by turns.
        return Objetivo{arriba ? bajo + paso : bajo + hueco - paso, false};
    }
    // Overlapping accounts cannot be told apart by a read: all of them as
    // one. Once about as narrow as a window, a read cannot narrow it more:
    // it looks just past one edge, each by turns, where a clock moved
    // behind our back answers what nothing here allows.
    const double lo = r.front().lo;
    double hi = lo;
    for (const Rango& x : r)
        hi = std::max(hi, x.hi);
    // Narrower than a tenth of a second, every third read looks too: a knock
    // read only through the middle passes for drift, which the accounts
    // follow for as long as the drift's limit lets them.
    const bool estrecha = hi - lo <= 2 * w + 4 * kPasadoElBorde_s;
    const bool vigilar = hi - lo < kVigilarBajo_s && lecturas_ % 3 == 2;
    if (w <= kVentanaEstrecha_s && (estrecha || vigilar)) {
        return Objetivo{arriba ? hi + paso : lo - paso, true};
    }
    if (cuentas_.size() > 1)
        return Objetivo{(lo + hi) / 2, false};
    const Cuenta& c = cuentas_.front();
    const PuntoAD m = centroide(c.region);
    return Objetivo{m.a_s + m.deriva * segundos(t_us - c.ref_us), false};
}

} // namespace quarvel
