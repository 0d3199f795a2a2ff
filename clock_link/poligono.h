#pragma once

#include <utility>
#include <vector>

namespace quarvel {

// A point of the plane the estimators work in: an offset-like value at the
// account's reference moment (s) and a drift (a fraction: 1e-6 is one ppm).
// The value at `delta_s` seconds after the reference is a_s + deriva * delta_s.
struct PuntoAD {
    double a_s = 0;
    double deriva = 0;
    bool operator==(const PuntoAD&) const = default;
    // By a, then d: the hull's sweep.
    bool operator<(const PuntoAD& o) const {
        return a_s < o.a_s || (a_s == o.a_s && deriva < o.deriva);
    }
};

// A convex polygon, counter-clockwise; fewer than three points is empty.
using Poligono = std::vector<PuntoAD>;

// The box a in [a_lo_s, a_hi_s], d in [d_lo, d_hi].
Poligono caja(double a_lo_s, double a_hi_s, double d_lo, double d_hi);

// The part where signo * (a + d * delta_s - limite_s) <= 0: one half-plane
// (Sutherland–Hodgman against one line).
Poligono recortar(const Poligono& p, double delta_s, double limite_s, double signo);

// The part whose value at `delta_s` lies in [lo_s, hi_s].
Poligono cortar_banda(const Poligono& p, double delta_s, double lo_s, double hi_s);

// The range of a + d * delta_s over the polygon (lo, hi), in s.
std::pair<double, double> rango_en(const Poligono& p, double delta_s);
// The range of d over the polygon (lo, hi).
std::pair<double, double> rango_deriva(const Poligono& p);

// The centroid (area-weighted); a degenerate polygon's vertex mean.
PuntoAD centroide(const Poligono& p);

// The convex hull (Andrew's monotone chain), counter-clockwise.
Poligono envolvente(std::vector<PuntoAD> puntos);

} // namespace quarvel
