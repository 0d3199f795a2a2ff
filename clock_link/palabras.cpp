#include "clock_link/palabras.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace quarvel {

namespace {

constexpr double kSegundosDia = 86'400;

} // namespace

bool deriva_conocida(double deriva, double cota_deriva) {
    return cota_deriva <= std::max(std::abs(deriva) / 5, 1 / kSegundosDia);
}

QString deriva_en_palabras(double deriva, double cota_deriva) {
    const QLocale es(QLocale::Spanish, QLocale::Spain);
    const double s_dia = deriva * kSegundosDia;
    if (!deriva_conocida(deriva, cota_deriva)) {
        const double c = cota_deriva * kSegundosDia;
        return QStringLiteral("deriva aún incierta (±%1 s al día)")
            .arg(es.toString(c, 'f', c < 10 ? 1 : 0));
    }
    const double a = std::abs(s_dia);
    const QString cifra = es.toString(a, 'f', a < 10 ? 1 : 0);
    return (s_dia > 0 ? QStringLiteral("adelanta %1 s al día")
                      : QStringLiteral("atrasa %1 s al día"))
        .arg(cifra);
}

bool desviado(const EstimadorDesvio::Estimacion& e) {
    return e.valida && std::abs(e.desvio_s) - e.cota_s >= 1;
}

QString texto_desvio(const EstimadorDesvio::Estimacion& e) {
    if (!e.valida)
        return QStringLiteral("desvío desconocido");
    const QLocale es(QLocale::Spanish, QLocale::Spain);
    // A second or more in seconds: "22.858 ms" reads as 22 ms to anyone.
    const double mayor_s = std::max(std::abs(e.desvio_s), e.cota_s);
    const bool en_s = mayor_s >= 1;
    const double escala = en_s ? 1 : 1e3;
    const double desvio = e.desvio_s * escala;
    const int dec = en_s ? (mayor_s < 10 ? 2 : 1) : (std::abs(desvio) < 100 ? 1 : 0);
    // What rounds to zero is written "+0,0", never "-0,0".
    const bool negativo = std::round(desvio * std::pow(10, dec)) < 0;
    return (en_s ? QStringLiteral("desvío %1%2 s (±%3 s)")
                 : QStringLiteral("desvío %1%2 ms (±%3 ms)"))
        .arg(negativo ? QStringLiteral("-") : QStringLiteral("+"),
             es.toString(std::abs(desvio), 'f', dec), es.toString(e.cota_s * escala, 'f', dec));
}

QString frase_deriva(double deriva, double cota_deriva) {
    if (!deriva_conocida(deriva, cota_deriva))
        return QStringLiteral("La ") + deriva_en_palabras(deriva, cota_deriva)
                                           .replace(QStringLiteral("deriva aún"),
                                                    QStringLiteral("deriva del reloj es aún"));
    return QStringLiteral("El reloj ") + deriva_en_palabras(deriva, cota_deriva);
}

QString resumen_breve(const Registro& r, const QString& hora) {
    QString estado;
    switch (r.resultado) {
    case Resultado::Bien:
        estado = r.accion == Accion::CorreccionFina ? QStringLiteral("se afina")
                 : desviado(r.estimacion)           ? QStringLiteral("desviado")
                                                    : QStringLiteral("en hora");
        break;
    case Resultado::Mal:
        estado = QStringLiteral("equivocado, se corrige");
        break;
    case Resultado::SinRespuesta:
        estado = QStringLiteral("no contesta");
        break;
    case Resultado::ErrorPuerto:
        estado = QStringLiteral("sin puerto");
        break;
    }
    QString l1 = hora + QLatin1Char(' ') + estado;
    QString l2;
    const auto& e = r.estimacion;
    if (e.valida) {
        l1 += QStringLiteral(": ") + texto_desvio(e);
        l2 = deriva_en_palabras(e.deriva, e.cota_deriva);
    } else if (r.resultado == Resultado::Bien || r.resultado == Resultado::Mal) {
        l1 += QStringLiteral(": ") + texto_desvio(e);
    }
    // Said where people look, beside the estimate that covers both accounts.
    if (r.suceso == EstimadorVentana::Suceso::PuestaNoTomada)
        l2 += (l2.isEmpty() ? QString() : QStringLiteral("; ")) +
              QStringLiteral("la puesta en hora no se tomó");
    if (r.pc_sincronizado && !*r.pc_sincronizado)
        l2 += (l2.isEmpty() ? QString() : QStringLiteral("; ")) +
              QStringLiteral("PC sin sincronizar");
    return l2.isEmpty() ? l1 : l1 + QLatin1Char('\n') + l2;
}

QString resumen_de_registro(const Registro& r) {
    const auto& e = r.estimacion;
    QString t;
    if (e.valida)
        t = texto_desvio(e) + QStringLiteral(", ") + deriva_en_palabras(e.deriva, e.cota_deriva);
    else if (r.resultado == Resultado::Bien || r.resultado == Resultado::Mal)
        t = texto_desvio(e);
    if (r.suceso == EstimadorVentana::Suceso::PuestaNoTomada)
        t += (t.isEmpty() ? QString() : QStringLiteral("; ")) +
             QStringLiteral("la puesta en hora no se tomó");
    if (r.pc_sincronizado && !*r.pc_sincronizado)
        t += (t.isEmpty() ? QString() : QStringLiteral("; ")) +
             QStringLiteral("el PC no está sincronizado");
    return t;
}

} // namespace quarvel
