#include "clock_link/estimador.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarvel {

namespace {

constexpr double kUs = 1e6;
// Where the clock may stand before any read or set says.
constexpr double kSinSaber = 1e7;
// Below this uncertainty, reads look out for a clock changed behind our back.
constexpr double kVigilarBajo = 0.1;

// The part of a convex polygon where s * (a + d * delta - limite) <= 0.
std::vector<std::pair<double, double>> recortar(const std::vector<std::pair<double, double>>& p,
                                                double delta, double limite, double s) {
    std::vector<std::pair<double, double>> r;
    const auto valor = [&](const std::pair<double, double>& v) {
        return s * (v.first + v.second * delta - limite);
    };
    for (std::size_t i = 0; i < p.size(); ++i) {
        const auto& a = p[i];
        const auto& b = p[(i + 1) % p.size()];
        const double va = valor(a);
        const double vb = valor(b);
        if (va <= 0)
            r.push_back(a);
        if ((va < 0 && vb > 0) || (va > 0 && vb < 0)) {
            const double f = va / (va - vb);
            r.emplace_back(a.first + f * (b.first - a.first), a.second + f * (b.second - a.second));
        }
    }
    return r;
}

} // namespace

EstimadorDesvio::EstimadorDesvio()
    : EstimadorDesvio(Config{}) {}

EstimadorDesvio::EstimadorDesvio(Config config)
    : config_(config)
    , latencia_max_(config.latencia_max_s)
    , periodo_max_(config.latencia_max_s) {
    caja(-kSinSaber, kSinSaber, -config_.deriva_max, config_.deriva_max);
}

void EstimadorDesvio::caja(double a_lo, double a_hi, double d_lo, double d_hi) {
    region_ = {{a_lo, d_lo}, {a_hi, d_lo}, {a_hi, d_hi}, {a_lo, d_hi}};
}

std::pair<double, double> EstimadorDesvio::rango(double delta) const {
    double lo = std::numeric_limits<double>::max();
    double hi = std::numeric_limits<double>::lowest();
    for (const auto& [a, d] : region_) {
        lo = std::min(lo, a + d * delta);
        hi = std::max(hi, a + d * delta);
    }
    return {lo, hi};
}

std::pair<double, double> EstimadorDesvio::rango_deriva() const {
    if (region_.size() < 3)
        return {-config_.deriva_max, config_.deriva_max};
    double lo = std::numeric_limits<double>::max();
    double hi = std::numeric_limits<double>::lowest();
    for (const auto& v : region_) {
        lo = std::min(lo, v.second);
        hi = std::max(hi, v.second);
    }
    return {lo, hi};
}

void EstimadorDesvio::puesta(qint64 t_us) {
    // The period that ends here held together: what it told of L counts.
    if (desde_puesta_ && periodo_min_ <= periodo_max_) {
        latencia_min_ = periodo_min_;
        latencia_max_ = periodo_max_;
    }
    periodo_min_ = latencia_min_;
    periodo_max_ = latencia_max_;
    // a = L + the set's error; the drift carries over.
    const double e = config_.error_puesta_s;
    const auto [d_lo, d_hi] = rango_deriva();
    caja(latencia_min_ - e, latencia_max_ + e, d_lo, d_hi);
    activo_ = true;
    desde_puesta_ = true;
    lecturas_desde_puesta_ = 0;
    ref_us_ = t_us;
}

qint64 EstimadorDesvio::momento_de_lectura(qint64 desde_us) const {
    // The reply's second turns where t + phi crosses a whole second: the
    // request goes where the middle of what phi may be crosses one.
    if (!activo_ || region_.size() < 3)
        return desde_us;
    // Through the region's centroid: any line through it leaves at least
    // 4/9 of the region on each side, so each read takes a good part away.
    const auto [ca, cd] = centroide();
    const double delta = static_cast<double>(desde_us - ref_us_) / kUs;
    const auto [lo, hi] = rango(delta);
    const double margen = 2 * config_.fluctuacion_s;
    double medio = 0;
    if (hi - lo <= 2 * margen ||
        (hi - lo < kVigilarBajo && lecturas_desde_puesta_ > 2 && lecturas_ % 3 == 2)) {
        // Known closely: every other read goes just past one edge instead,
        // by turns, where a clock that jumped that way (changed behind our
        // back) answers what nothing here allows; one known to a few ms
        // would tell little to a cut anyway.
        medio = (lecturas_ / 3) % 2 == 0 ? hi + margen : lo - margen;
    } else {
        medio = ca + cd * delta;
    }
    const double medio_us = medio * kUs;
    const double cruce = std::ceil((static_cast<double>(desde_us) + medio_us) / kUs) * kUs;
    const auto t = static_cast<qint64>(std::llround(cruce - medio_us));
    return std::clamp(t, desde_us, desde_us + 999'000);
}

std::pair<double, double> EstimadorDesvio::centroide() const {
    double area = 0;
    double ca = 0;
    double cd = 0;
    for (std::size_t i = 0; i < region_.size(); ++i) {
        const auto& [a0, d0] = region_[i];
        const auto& [a1, d1] = region_[(i + 1) % region_.size()];
        // Drift in thousandths, so both axes weigh alike in the sums.
        const double y0 = d0 * 1e3;
        const double y1 = d1 * 1e3;
        const double c = a0 * y1 - a1 * y0;
        area += c;
        ca += (a0 + a1) * c;
        cd += (y0 + y1) * c;
    }
    if (std::abs(area) < 1e-18) {
        // Down to a sliver: its middle.
        double sa = 0;
        double sd = 0;
        for (const auto& [a, d] : region_) {
            sa += a;
            sd += d;
        }
        const auto n = static_cast<double>(std::max<std::size_t>(region_.size(), 1));
        return {sa / n, sd / n};
    }
    return {ca / (3 * area), cd / (3 * area) / 1e3};
}

void EstimadorDesvio::cortar(double delta, double lo, double hi) {
    region_ = recortar(region_, delta, hi, 1);
    region_ = recortar(region_, delta, lo, -1);
}

bool EstimadorDesvio::lectura(qint64 t_us, qint64 reloj_s) {
    // C - t, in seconds, from integers: nothing lost to large numbers.
    const double base = static_cast<double>(reloj_s * 1'000'000 - t_us) / kUs;
    const double j = config_.fluctuacion_s;
    const std::vector<Punto> antes = region_;
    cortar(static_cast<double>(t_us - ref_us_) / kUs, base - j, base + 1 + j);
    bool coherente = region_.size() >= 3;
    if (!coherente) {
        // Changed behind our back: followed from this read, with the drift
        // known so far, its offset through what is known of L.
        region_ = antes;
        const auto [d_lo, d_hi] = rango_deriva();
        // Around this read, however far off the clock is.
        caja(base - j - 1, base + 1 + j + 1, d_lo, d_hi);
        ref_us_ = t_us;
        // The very first read after a set already disagrees with it: what
        // was learnt of the latency no longer holds (another adapter,
        // another speed).
        if (desde_puesta_ && lecturas_desde_puesta_ == 0) {
            latencia_min_ = 0;
            latencia_max_ = config_.latencia_max_s;
        }
        desde_puesta_ = false;
        periodo_min_ = latencia_min_;
        periodo_max_ = latencia_max_;
        cortar(0, base - j, base + 1 + j);
    } else if (desde_puesta_) {
        // At the set a was L within the set's error: L is learnt.
        double a_lo = std::numeric_limits<double>::max();
        double a_hi = std::numeric_limits<double>::lowest();
        for (const auto& v : region_) {
            a_lo = std::min(a_lo, v.first);
            a_hi = std::max(a_hi, v.first);
        }
        periodo_min_ = std::max(periodo_min_, a_lo - config_.error_puesta_s);
        periodo_max_ = std::min(periodo_max_, a_hi + config_.error_puesta_s);
    }
    activo_ = true;
    ++lecturas_;
    ++lecturas_desde_puesta_;
    return coherente;
}

EstimadorDesvio::Estimacion EstimadorDesvio::en(qint64 t_us) const {
    Estimacion r;
    if (!activo_ || region_.size() < 3)
        return r;
    const double delta = static_cast<double>(t_us - ref_us_) / kUs;
    // Through L: phi minus what L may be.
    const auto [f_lo, f_hi] = rango(delta);
    double lo = f_lo - (desde_puesta_ ? periodo_max_ : latencia_max_);
    double hi = f_hi - (desde_puesta_ ? periodo_min_ : latencia_min_);
    const auto [d_lo, d_hi] = rango_deriva();
    if (desde_puesta_) {
        // From the set: its small error plus the drift since.
        const double e = config_.error_puesta_s;
        lo = std::max(lo, std::min(d_lo * delta, d_hi * delta) - e);
        hi = std::min(hi, std::max(d_lo * delta, d_hi * delta) + e);
    }
    // The bound is the whole range; the estimate the region's centroid,
    // which the range's middle would bias where the region is lopsided.
    const auto [ca, cd] = centroide();
    const double l_lo = desde_puesta_ ? periodo_min_ : latencia_min_;
    const double l_hi = desde_puesta_ ? periodo_max_ : latencia_max_;
    const double punto = desde_puesta_ ? cd * delta : ca + cd * delta - (l_lo + l_hi) / 2;
    r.valida = true;
    r.desvio_s = std::clamp(punto, std::min(lo, hi), std::max(lo, hi));
    r.cota_s = std::max(r.desvio_s - lo, hi - r.desvio_s);
    r.deriva = cd;
    r.cota_deriva = std::max(cd - d_lo, d_hi - cd);
    return r;
}

} // namespace quarvel
