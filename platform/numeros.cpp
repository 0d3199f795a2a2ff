#include "platform/numeros.h"

#include "platform/fallo.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace quarvel {

namespace {

bool es_blanco(QChar c) {
    return c == u' ' || c == u'\t';
}

// Longest prefix of `t` from `i` that forms [sign]digits[.digits]; returns
// the parsed value and sets `fin` to the index after it (or -1 when none).
double leer_numero(const QString& t, qsizetype i, qsizetype& fin) {
    bool negativo = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negativo = t[i] == u'-';
        ++i;
    }
    double valor = 0;
    bool hay_digitos = false;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
        valor = valor * 10 + (t[i].unicode() - u'0');
        hay_digitos = true;
        ++i;
    }
    if (i < t.size() && t[i] == u'.') {
        ++i;
        double escala = 0.1;
        while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
            valor += (t[i].unicode() - u'0') * escala;
            escala /= 10;
            hay_digitos = true;
            ++i;
        }
    }
    if (!hay_digitos) {
        fin = -1;
        return 0;
    }
    fin = i;
    return negativo ? -valor : valor;
}

} // namespace

double numero_de_texto(const QString& texto) {
    qsizetype i = 0;
    while (i < texto.size() && es_blanco(texto[i]))
        ++i;
    qsizetype fin = -1;
    const double v = leer_numero(texto, i, fin);
    return fin < 0 ? 0.0 : v;
}

long entero_estricto(const std::optional<QString>& valor, const QString& nombre) {
    if (!valor)
        return 0;
    const QString& t = *valor;
    qsizetype i = 0;
    while (i < t.size() && t[i] == u' ')
        ++i;
    qsizetype fin = -1;
    const double v = leer_numero(t, i, fin);
    bool ok = fin >= 0;
    if (ok) {
        while (fin < t.size() && t[fin] == u' ')
            ++fin;
        ok = fin == t.size();
    }
    if (!ok)
        throw Fallo(
            QStringLiteral("El valor \"%1\" de %2 no es un número").arg(recortado(t), nombre));
    // nearbyint rounds half to even in the default rounding mode.
    const double r = std::nearbyint(v);
    if (r > static_cast<double>(std::numeric_limits<int>::max()) ||
        r < static_cast<double>(std::numeric_limits<int>::min()))
        throw Fallo(
            QStringLiteral("El valor \"%1\" de %2 está fuera de rango").arg(recortado(t), nombre));
    return static_cast<long>(r);
}

std::int16_t a_entero16(long valor, const QString& nombre) {
    if (valor < std::numeric_limits<std::int16_t>::min() ||
        valor > std::numeric_limits<std::int16_t>::max())
        throw Fallo(QStringLiteral("El valor %1 de %2 está fuera de rango").arg(valor).arg(nombre));
    return static_cast<std::int16_t>(valor);
}

} // namespace quarvel
