#include "clock_link/protocolo.h"

#include "clock_link/decodificacion.h"
#include "clock_link/puerto_serie.h"

#include <algorithm>
#include <cmath>

namespace quarvel {

namespace {

constexpr int kPasosEspera = 2000;
constexpr int kBytesRespuesta = 15;
constexpr int kMargenEsperaMs = 1000;
// A reply is 15 bytes; only the first ones are kept, however much a device
// sends.
constexpr qsizetype kRespuestaMaxima = 4096;

} // namespace

int valor_de_campo(const QDateTime& t, Campo campo) {
    switch (campo) {
    case Campo::Dia:
        return t.date().day();
    case Campo::Mes:
        return t.date().month();
    case Campo::Anio:
        return t.date().year() % 100;
    case Campo::Hora:
        return t.time().hour();
    case Campo::Minutos:
        return t.time().minute();
    case Campo::Segundos:
        return t.time().second();
    }
    return 0;
}

QByteArray comando_de_modo(ModoPantalla modo) {
    return modo == ModoPantalla::Hora ? QByteArrayLiteral("CH") : QByteArrayLiteral("CF");
}

QString leyenda_de_modo(ModoPantalla modo) {
    return modo == ModoPantalla::Hora ? QStringLiteral("Hora") : QStringLiteral("Fecha y Hora");
}

std::optional<ModoPantalla> modo_de_leyenda(const QString& leyenda) {
    for (ModoPantalla m : {ModoPantalla::FechaYHora, ModoPantalla::Hora})
        if (leyenda == leyenda_de_modo(m))
            return m;
    return std::nullopt;
}

ModoPantalla otro_modo(ModoPantalla modo) {
    return modo == ModoPantalla::Hora ? ModoPantalla::FechaYHora : ModoPantalla::Hora;
}

int pasos_de_espera(double us_por_byte) {
    return std::max(kPasosEspera,
                    static_cast<int>(std::ceil(kBytesRespuesta * us_por_byte / 1000)) +
                        kMargenEsperaMs);
}

Respuesta esperar_respuesta(PuertoSerie& puerto, double us_por_byte,
                            const std::function<bool()>& pasada) {
    Respuesta r;
    qsizetype recibidos = 0;
    const int pasos = pasos_de_espera(us_por_byte);
    // Each pass waits up to 1 ms for bytes: about 2 s at most on any machine.
    for (int n = 1; n <= pasos && !r.completa; ++n) {
        // A port that is not open (it failed to, or went away) has nothing
        // more to give: the wait ends rather than stall the program.
        if (!pasada() || !puerto.PortOpen())
            break;
        puerto.esperarDatos(1);
        const QByteArray llegado = puerto.Input();
        r.bytes += llegado.left(kRespuestaMaxima - r.bytes.size());
        r.completa = respuesta_completa(llegado, recibidos);
        recibidos += llegado.size();
    }
    return r;
}

} // namespace quarvel
