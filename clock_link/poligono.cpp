#include "clock_link/poligono.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarvel {

Poligono caja(double a_lo_s, double a_hi_s, double d_lo, double d_hi) {
    return {{a_lo_s, d_lo}, {a_hi_s, d_lo}, {a_hi_s, d_hi}, {a_lo_s, d_hi}};
}

Poligono recortar(const Poligono& p, double delta_s, double limite_s, double signo) {
    Poligono r;
    const auto valor = [&](const PuntoAD& v) {
        return signo * (v.a_s + v.deriva * delta_s - limite_s);
    };
    for (std::size_t i = 0; i < p.size(); ++i) {
        const PuntoAD& a = p[i];
        const PuntoAD& b = p[(i + 1) % p.size()];
        const double va = valor(a);
        const double vb = valor(b);
        if (va <= 0)
            r.push_back(a);
        if ((va < 0 && vb > 0) || (va > 0 && vb < 0)) {
            const double f = va / (va - vb);
            r.push_back({a.a_s + f * (b.a_s - a.a_s), a.deriva + f * (b.deriva - a.deriva)});
        }
    }
    return r;
}

Poligono cortar_banda(const Poligono& p, double delta_s, double lo_s, double hi_s) {
    return recortar(recortar(p, delta_s, hi_s, 1), delta_s, lo_s, -1);
}

std::pair<double, double> rango_en(const Poligono& p, double delta_s) {
    double lo = std::numeric_limits<double>::max();
    double hi = std::numeric_limits<double>::lowest();
    for (const PuntoAD& v : p) {
        lo = std::min(lo, v.a_s + v.deriva * delta_s);
        hi = std::max(hi, v.a_s + v.deriva * delta_s);
    }
    return {lo, hi};
}

std::pair<double, double> rango_deriva(const Poligono& p) {
    double lo = std::numeric_limits<double>::max();
    double hi = std::numeric_limits<double>::lowest();
    for (const PuntoAD& v : p) {
        lo = std::min(lo, v.deriva);
        hi = std::max(hi, v.deriva);
    }
    return {lo, hi};
}

PuntoAD centroide(const Poligono& p) {
    // The centroid is affine-invariant, so the axes' very different scales
    // (seconds against parts per million) need no weighing.
    double area2 = 0;
    double ca = 0;
    double cd = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const PuntoAD& v0 = p[i];
        const PuntoAD& v1 = p[(i + 1) % p.size()];
        const double c = v0.a_s * v1.deriva - v1.a_s * v0.deriva;
        area2 += c;
        ca += (v0.a_s + v1.a_s) * c;
        cd += (v0.deriva + v1.deriva) * c;
    }
    // Down to a sliver (under a µs by a thousandth of a ppm): the
    // vertices' mean, as the area's rounding would decide the sums.
    if (p.size() < 3 || std::abs(area2) < 1e-21) {
        PuntoAD m;
        for (const PuntoAD& v : p) {
            m.a_s += v.a_s;
            m.deriva += v.deriva;
        }
        const auto n = static_cast<double>(std::max<std::size_t>(p.size(), 1));
        return {m.a_s / n, m.deriva / n};
    }
    return {ca / (3 * area2), cd / (3 * area2)};
}

Poligono envolvente(std::vector<PuntoAD> p) {
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
    if (p.size() < 3)
        return p;
    const auto giro = [](const PuntoAD& o, const PuntoAD& a, const PuntoAD& b) {
        return (a.a_s - o.a_s) * (b.deriva - o.deriva) - (a.deriva - o.deriva) * (b.a_s - o.a_s);
    };
    Poligono h(2 * p.size());
    std::size_t k = 0;
    for (const PuntoAD& q : p) {
        while (k >= 2 && giro(h[k - 2], h[k - 1], q) <= 0)
            --k;
        h[k++] = q;
    }
    for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && giro(h[k - 2], h[k - 1], p[i]) <= 0)
            --k;
        h[k++] = p[i];
    }
    h.resize(k - 1);
    return h;
}

} // namespace quarvel
