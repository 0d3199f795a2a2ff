#include "clock_link/estimador.h"

#include "clock_link/config_linea.h"
#include "clock_link/plan_envio.h"
#include "clock_link/poligono.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarvel {

namespace {

constexpr double kUs = 1e6;
// Below this width of what psi may be, reads look out for a clock changed
// behind our back: wider, a split tells more than a look past an edge.
constexpr double kVigilarBajo = 0.1;
// Reads after a confirmed knock within which another contradiction means
// the model, not the clock, is wrong.
constexpr long kGolpesSeguidos = 10;
// Reads after a knock that must agree, each looking past one edge or the
// other, before its account is shown: a clock that drifts beyond the limits
// also looks like a knock at first.
constexpr long kTrasGolpe = 2;
// How many reads back the drift is taken from when a knock shows: probes
// look past each edge within six reads.
constexpr std::size_t kDerivasGuardadas = 12;
// A knock within this many reads of another episode is no knock but a device
// that cannot be followed: it is put on probation as a false reply is.
constexpr long kEpisodiosCercanos = 120;
// Reads that may fail to tell a knock from a false reply before both are
// kept as one wider account.
constexpr int kSinDecidirMax = 3;
// Probation after a false reply or a broken model: reads that must agree,
// doubled at each episode up to the largest.
constexpr long kCastigoPrimero = 3;
constexpr long kCastigoMaximo = 2000;
// A record halves after this many times its length of reads that agree.
constexpr long kAlivio = 10;
// A crystal's drift wanders with temperature and age: what was learnt of it
// is widened by this much, and by this much a day since, when carried over a
// set.
constexpr double kDerivaHolgura = 0.1e-6;
constexpr double kDerivaPorDia = 2e-6;
// Widest the limits grow after broken models (each widens the drift's
// threefold, the latency by 0.5 s, the jitter and the set's error twofold).
constexpr double kLatenciaTope = 10;
constexpr double kDerivaTope = 0.02;
constexpr double kFluctuacionTope = 0.25;
constexpr double kPuestaTope = 0.5;

} // namespace

LimitesEstimador limites_de_linea(const ConfigLinea& linea) {
    const double byte_s = us_por_byte(linea) / kUs;
    LimitesEstimador l;
    // The set's seconds byte lands at its measured moment within a byte's
    // start and a USB frame or two.
    l.error_puesta_s = 0.003 + byte_s;
    // The request's two bytes and the reply's fifteen may both pass before
    // the device reads its clock; then its own delay (0.5 s is already slow
    // for a device) and the scheduler's and an adapter's (0.1 s).
    l.latencia_max_s = 17 * byte_s + 0.6;
    l.deriva_max = 1000e-6;
    // One byte's time (a device may read its clock at either byte of the
    // request, or poll its port), 5 ms for the adapter and the scheduler
    // once the write has begun (its own length is measured), and what the
    // drift does over L.
    l.fluctuacion_s = byte_s + 0.005 + l.deriva_max * l.latencia_max_s;
    l.byte_s = byte_s;
    return l;
}

EstimadorDesvio::EstimadorDesvio()
    : EstimadorDesvio(Config{}) {}

EstimadorDesvio::EstimadorDesvio(Config config)
    : config_(config)
    , latencia_max_(config.latencia_max_s)
    , deriva_lo_(-config.deriva_max)
    , deriva_hi_(config.deriva_max) {}

std::pair<double, double> EstimadorDesvio::rango(const Hipotesis& h, qint64 t_us) const {
    return rango_en(h.region, static_cast<double>(t_us - h.ref_us) / kUs);
}

bool EstimadorDesvio::admite(const Hipotesis& h, qint64 t_us, double lo, double hi) const {
    Hipotesis copia = h;
    cortar(copia, t_us, lo, hi);
    return copia.region.size() >= 3;
}

void EstimadorDesvio::cortar(Hipotesis& h, qint64 t_us, double lo, double hi) const {
    const double delta = static_cast<double>(t_us - h.ref_us) / kUs;
    h.region = cortar_banda(h.region, delta, lo, hi);
    if (h.region.size() < 3)
        return;
    ++h.lecturas;
    if (h.desde_puesta) {
        // At the set a was L plus the set's offset: what the reads leave of
        // a is what L can be.
        double a_lo = std::numeric_limits<double>::max();
        double a_hi = std::numeric_limits<double>::lowest();
        for (const PuntoAD& v : h.region) {
            a_lo = std::min(a_lo, v.a_s);
            a_hi = std::max(a_hi, v.a_s);
        }
        h.periodo_min = std::max(h.periodo_min, a_lo - h.desvio_puesta_s - config_.error_puesta_s);
        h.periodo_max = std::min(h.periodo_max, a_hi - h.desvio_puesta_s + config_.error_puesta_s);
    }
}

EstimadorDesvio::Hipotesis EstimadorDesvio::desde_lectura(qint64 t_us, double lo, double hi) const {
    // Wherever this read puts psi, with the drift as learnt; its offset known
    // through L as learnt.
    Hipotesis h;
    h.region = caja(lo, hi, deriva_lo_, deriva_hi_);
    h.ref_us = t_us;
    h.lecturas = 1;
    return h;
}

void EstimadorDesvio::puesta(qint64 t_us, double desvio_s) {
    // A period that held together, its set confirmed by a read: what it told
    // of L and d counts from now on.
    if (hip_.desde_puesta && periodo_limpio_ && confirmada_ && !golpe_ && hip_.region.size() >= 3 &&
        hip_.periodo_min <= hip_.periodo_max) {
        latencia_min_ = hip_.periodo_min;
        latencia_max_ = hip_.periodo_max;
        latencia_medida_ = true;
        sembrado_ = false;
        const auto [d_lo, d_hi] = rango_deriva(hip_.region);
        const double dias = static_cast<double>(t_us - hip_.ref_us) / kUs / 86'400;
        const double holgura = kDerivaHolgura + kDerivaPorDia * std::max(dias, 0.0);
        deriva_lo_ = std::max(d_lo - holgura, -config_.deriva_max);
        deriva_hi_ = std::min(d_hi + holgura, config_.deriva_max);
    }
    const double e = config_.error_puesta_s;
    const double l_hi =
        latencia_min_ <= tope_latencia_ ? std::min(latencia_max_, tope_latencia_) : latencia_max_;
    Hipotesis h;
    h.region = caja(latencia_min_ + desvio_s - e, l_hi + desvio_s + e, deriva_lo_, deriva_hi_);
    h.ref_us = t_us;
    h.desde_puesta = true;
    h.desvio_puesta_s = desvio_s;
    h.periodo_min = latencia_min_;
    h.periodo_max = l_hi;
    hip_ = h;
    golpe_.reset();
    derivas_.clear();
    sin_decidir_ = 0;
    // A set is taken as landed only once a read agrees with it: a device
    // that never got it (no device at all) is not said to be in time.
    confirmada_ = false;
    periodo_limpio_ = true;
    lado_ = lado_antes_ = 0;
    // A device with a record of false replies is on probation after every
    // set too, until its record has eased off.
    if (castigo_ > 0) {
        requerido_ = castigo_;
        probadas_ = 0;
    }
}

void EstimadorDesvio::olvidar() {
    hip_ = Hipotesis{};
    golpe_.reset();
    derivas_.clear();
    sin_decidir_ = 0;
    periodo_limpio_ = false;
    lado_ = lado_antes_ = 0;
}

void EstimadorDesvio::sembrar(double latencia_min_s, double latencia_max_s, double deriva_lo,
                              double deriva_hi) {
    latencia_min_ = std::max(latencia_min_s, 0.0);
    latencia_max_ = std::min(latencia_max_s, config_.latencia_max_s);
    deriva_lo_ = std::max(deriva_lo, -config_.deriva_max);
    deriva_hi_ = std::min(deriva_hi, config_.deriva_max);
    if (latencia_min_ > latencia_max_ || deriva_lo_ > deriva_hi_) {
        olvidar_lo_aprendido();
        return;
    }
    latencia_medida_ = true;
    sembrado_ = true;
}

std::optional<std::pair<double, double>> EstimadorDesvio::latencia_aprendida() const {
    if (!latencia_medida_)
        return std::nullopt;
    return std::pair{latencia_min_, latencia_max_};
}

void EstimadorDesvio::olvidar_lo_aprendido() {
    olvidar();
    a_los_limites();
    confirmada_ = false;
    seguidas_ = 0;
}

void EstimadorDesvio::acotar_latencia(double tope_s) {
    tope_latencia_ = tope_s;
    if (!std::isfinite(tope_s) || !hip_.desde_puesta || hip_.region.size() < 3 || golpe_)
        return;
    // At the set, a was L plus the set's offset: a cannot be above what
    // the windows leave L. A period whose L is already above the cap is at
    // odds with the windows: left as it is, the estimate says nothing.
    const double a_hi = hip_.desvio_puesta_s + tope_s + config_.error_puesta_s;
    const Poligono cortada =
        cortar_banda(hip_.region, 0, std::numeric_limits<double>::lowest(), a_hi);
    if (cortada.size() < 3)
        return;
    hip_.region = cortada;
    hip_.periodo_max = std::min(hip_.periodo_max, tope_s);
}

void EstimadorDesvio::a_los_limites() {
    latencia_min_ = 0;
    latencia_max_ = config_.latencia_max_s;
    deriva_lo_ = -config_.deriva_max;
    deriva_hi_ = config_.deriva_max;
    latencia_medida_ = false;
    sembrado_ = false;
}

void EstimadorDesvio::castigar() {
    castigo_ = std::min(kCastigoMaximo, std::max(kCastigoPrimero, castigo_ * 2));
    requerido_ = castigo_;
    probadas_ = 0;
    buenas_ = 0;
    ultimo_episodio_ = lecturas_;
}

void EstimadorDesvio::golpe_confirmado() {
    const bool cercano = lecturas_ - ultimo_episodio_ <= kEpisodiosCercanos;
    ultimo_golpe_ = lecturas_;
    seguidas_ = 0;
    if (cercano) {
        castigar();
    } else {
        requerido_ = std::max(requerido_, kTrasGolpe);
        probadas_ = 0;
        ultimo_episodio_ = lecturas_;
    }
}

void EstimadorDesvio::modelo_roto(qint64 t_us, double base, double escritura_s) {
    // Something outside the limits: widen them all (which one failed cannot
    // be told), forget what was learnt under them, and start from this read.
    config_.latencia_max_s = std::min(config_.latencia_max_s + 0.5, kLatenciaTope);
    config_.deriva_max = std::min(config_.deriva_max * 3, kDerivaTope);
    config_.fluctuacion_s = std::min(config_.fluctuacion_s * 2, kFluctuacionTope);
    config_.error_puesta_s = std::min(config_.error_puesta_s * 2, kPuestaTope);
    a_los_limites();
    const double j = config_.fluctuacion_s;
    hip_ = desde_lectura(t_us, base - j - escritura_s, base + 1 + j);
    golpe_.reset();
    derivas_.clear();
    sin_decidir_ = 0;
    confirmada_ = true;
    periodo_limpio_ = false;
    lado_ = lado_antes_ = 0;
    castigar();
}

EstimadorDesvio::Veredicto EstimadorDesvio::lectura(qint64 t_us, qint64 reloj_s,
                                                    qint64 escritura_us) {
    // C - t, in seconds, from integers: nothing lost to large numbers.
    const double base = static_cast<double>(reloj_s * 1'000'000 - t_us) / kUs;
    const double escritura_s = static_cast<double>(std::max<qint64>(escritura_us, 0)) / kUs;
    const double j = config_.fluctuacion_s;
    // The write may have begun anywhere in its measured length: psi's band
    // reaches lower by that much.
    const double lo = base - j - escritura_s;
    const double hi = base + 1 + j;
    ++lecturas_;

    if (!activo()) {
        hip_ = desde_lectura(t_us, lo, hi);
        confirmada_ = true;
        ++seguidas_;
        return Veredicto::Coherente;
    }

    if (golpe_) {
        // Tell the two accounts apart: the old one with a false reply, or a
        // knock after which the clock holds another offset.
        const bool viejo = admite(hip_, t_us, lo, hi);
        const bool nuevo = admite(*golpe_, t_us, lo, hi);
        if (viejo && !nuevo) {
            cortar(hip_, t_us, lo, hi);
            golpe_.reset();
            castigar();
            seguidas_ = 1;
            return Veredicto::Falsa;
        }
        if (!viejo && nuevo) {
            cortar(*golpe_, t_us, lo, hi);
            hip_ = *golpe_;
            golpe_.reset();
            derivas_.clear();
            golpe_confirmado();
            confirmada_ = true;
            lado_ = lado_antes_ = 0;
            return Veredicto::Golpe;
        }
        if (viejo && nuevo) {
            cortar(hip_, t_us, lo, hi);
            cortar(*golpe_, t_us, lo, hi);
            if (++sin_decidir_ >= kSinDecidirMax) {
                // Still both: the truth is in one of them, so in their hull,
                // counted from here and through L as learnt.
                std::vector<PuntoAD> puntos = golpe_->region;
                const double delta = static_cast<double>(golpe_->ref_us - hip_.ref_us) / kUs;
                for (const PuntoAD& v : hip_.region)
                    puntos.push_back({v.a_s + v.deriva * delta, v.deriva});
                Hipotesis h;
                h.region = envolvente(std::move(puntos));
                h.ref_us = golpe_->ref_us;
                h.lecturas = 1;
                hip_ = h;
                golpe_.reset();
                derivas_.clear();
                golpe_confirmado();
                return Veredicto::Golpe;
            }
            return Veredicto::Contradiccion;
        }
        modelo_roto(t_us, base, escritura_s);
        return Veredicto::ModeloRoto;
    }

    const auto [r_lo, r_hi] = rango(hip_, t_us);
    if (admite(hip_, t_us, lo, hi)) {
        // Which part the read kept: it leans that way when it cuts one side.
        const bool abajo = lo > r_lo;
        const bool arriba = hi < r_hi;
        lado_antes_ = lado_;
        lado_ = abajo == arriba ? 0 : (abajo ? 1 : -1);
        cortar(hip_, t_us, lo, hi);
        derivas_.push_back(rango_deriva(hip_.region));
        if (derivas_.size() > kDerivasGuardadas)
            derivas_.erase(derivas_.begin());
        confirmada_ = true;
        ++seguidas_;
        ++buenas_;
        if (requerido_ > 0) {
            ++turno_;
            // Only a narrow account is tested by a read: a wide one agrees
            // with nearly anything.
            const auto [n_lo, n_hi] = rango(hip_, t_us);
            if (n_hi - n_lo < kVigilarBajo && ++probadas_ >= requerido_)
                requerido_ = 0;
        }
        // Probation eases off after long agreement.
        if (castigo_ > 0 && buenas_ >= kAlivio * castigo_) {
            castigo_ = castigo_ >= 2 * kCastigoPrimero ? castigo_ / 2 : 0;
            buenas_ = 0;
        }
        return Veredicto::Coherente;
    }

    ++contradicciones_;
    periodo_limpio_ = false;
    seguidas_ = 0;
    // What was learnt may be what does not hold: a knock no read showed,
    // learnt as latency or drift over a period, or an earlier run's record.
    // The limits again, for the accounts that start from here; the windows
    // soon cap L again.
    a_los_limites();
    if (lecturas_ - ultimo_golpe_ <= kGolpesSeguidos) {
        // Knock after knock: the clock is not what the model says.
        modelo_roto(t_us, base, escritura_s);
        return Veredicto::ModeloRoto;
    }
    golpe_ = desde_lectura(t_us, lo, hi);
    // The drift as it stood before the reads that may have followed the
    // knock unseen, where that is known from this period.
    if (derivas_.size() >= kDerivasGuardadas) {
        const auto [d_lo, d_hi] = derivas_.front();
        golpe_->region =
            caja(lo, hi, std::max(d_lo, -config_.deriva_max), std::min(d_hi, config_.deriva_max));
    }
    sin_decidir_ = 0;
    return Veredicto::Contradiccion;
}

double EstimadorDesvio::objetivo(qint64 t_us) const {
    const auto [lo, hi] = rango(hip_, t_us);
    if (golpe_) {
        // Between the two accounts: the answer agrees with one only.
        const auto [g_lo, g_hi] = rango(*golpe_, t_us);
        if (hi < g_lo)
            return (hi + g_lo) / 2;
        if (g_hi < lo)
            return (g_hi + lo) / 2;
        return (std::min(lo, g_lo) + std::max(hi, g_hi)) / 2;
    }
    const double margen = 2 * config_.fluctuacion_s;
    // On probation, once narrow, every other read looks past an edge, by
    // turns, so an account that does not hold is caught from either side.
    if (requerido_ > 0 && hi - lo < kVigilarBajo && turno_ % 2 == 0)
        return (turno_ / 2) % 2 ? lo - margen : hi + margen;
    const bool vigilar = hi - lo <= 2 * margen ||
                         (hi - lo < kVigilarBajo && hip_.lecturas > 3 && lecturas_ % 3 == 2);
    if (vigilar) {
        // Once narrower than twice the margin, every read; once under
        // kVigilarBajo, every third (the reads' own count, so not always the
        // third of the account's): just past one edge, where a clock changed
        // behind our back answers what nothing here allows. The edge the
        // last two reads leant to, or each by turns.
        const int lado =
            lado_ != 0 && lado_ == lado_antes_ ? lado_ : ((lecturas_ / 3) % 2 ? -1 : 1);
        return lado > 0 ? hi + margen : lo - margen;
    }
    // Through the region's centroid: any line through it leaves at least
    // 4/9 of the region on each side (Grünbaum), so each read takes a good
    // part away.
    const PuntoAD c = centroide(hip_.region);
    return c.a_s + c.deriva * static_cast<double>(t_us - hip_.ref_us) / kUs;
}

qint64 EstimadorDesvio::momento_de_lectura(qint64 desde_us, qint64 hasta_us) const {
    if (!activo() || hasta_us <= desde_us)
        return desde_us;
    // The reply's second turns where t + psi crosses a whole second: the
    // request goes where the target psi crosses one.
    const double x_us = objetivo(desde_us) * kUs;
    const double cruce = std::ceil((static_cast<double>(desde_us) + x_us) / kUs) * kUs;
    const auto t =
        std::clamp(static_cast<qint64>(std::llround(cruce - x_us)), desde_us, desde_us + 999'999);
    if (t <= hasta_us)
        return t;
    // Past the safe end: the end whose crossing lies nearer the target.
    return t - hasta_us <= desde_us + 1'000'000 - t ? hasta_us : desde_us;
}

EstimadorDesvio::Estimacion EstimadorDesvio::en(qint64 t_us) const {
    Estimacion r;
    if (!activo() || hip_.region.size() < 3 || golpe_ || !confirmada_ || requerido_ > 0 ||
        castigo_ > 0)
        return r;
    const Hipotesis& h = hip_;
    const double delta = static_cast<double>(t_us - h.ref_us) / kUs;
    // Through L: psi minus what L may be.
    const double l_lo = h.desde_puesta ? h.periodo_min : latencia_min_;
    const double l_hi = std::min(h.desde_puesta ? h.periodo_max : latencia_max_, tope_latencia_);
    const auto [f_lo, f_hi] = rango(h, t_us);
    double lo = f_lo - l_hi;
    double hi = f_hi - l_lo;
    const auto [d_lo, d_hi] = rango_deriva(h.region);
    if (h.desde_puesta) {
        // From the set: its offset and small error plus the drift since.
        const double e = config_.error_puesta_s;
        lo = std::max(lo, h.desvio_puesta_s + std::min(d_lo * delta, d_hi * delta) - e);
        hi = std::min(hi, h.desvio_puesta_s + std::max(d_lo * delta, d_hi * delta) + e);
    }
    if (lo > hi)
        return r; // L as learnt and the set disagree: nothing honest to say
    // The bound is the whole range. The point: from a set, the set's offset
    // carried by the centroid's drift; otherwise the centroid's psi less L's
    // middle (the range's middle would be biased where the region is
    // lopsided). Early on, while the latency and the drift cannot yet be
    // told apart (both move psi alike), the centroid leans with them.
    const auto [ca, cd] = centroide(h.region);
    const double punto =
        h.desde_puesta ? h.desvio_puesta_s + cd * delta : ca + cd * delta - (l_lo + l_hi) / 2;
    r.valida = true;
    r.desvio_s = std::clamp(punto, lo, hi);
    r.cota_s = std::max(r.desvio_s - lo, hi - r.desvio_s);
    r.deriva = cd;
    r.cota_deriva = std::max(cd - d_lo, d_hi - cd);
    return r;
}

} // namespace quarvel
