// Number parsing of display and settings texts, the BCD encoders, the pieces
// of the display texts and the planning of a setting of the clock.
#include "fuzz/apoyo_fuzz.h"

#include "clock_link/codificacion.h"
#include "clock_link/plan_envio.h"
#include "clock_link/transmision.h"
#include "platform/fallo.h"
#include "platform/numeros.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace {

const QString kNombre = QStringLiteral("[T1]");

void comprobar_codificadores(double d) {
    using Codificador = std::optional<int> (*)(double);
    const Codificador codificadores[] = {quarvel::eval_dato_dia,     quarvel::eval_dato_mes,
                                         quarvel::eval_dato_anio,    quarvel::eval_dato_hora,
                                         quarvel::eval_dato_minutos, quarvel::eval_dato_segundos};
    // Only the whole numbers 0 to 99 have a value, their packed decimal.
    const bool entero_valido = d >= 0 && d <= 99 && d == std::floor(d);
    for (auto codificar : codificadores) {
        const std::optional<int> v = codificar(d);
        EXIGIR(v.has_value() == entero_valido);
        if (v) {
            EXIGIR(*v == quarvel::bcd(static_cast<int>(d)));
            EXIGIR(quarvel::eval_dato_entrada(*v) == static_cast<int>(d));
        }
        const char b = quarvel::byte_de_valor(v);
        EXIGIR(v ? static_cast<unsigned char>(b) == *v : b == 0);
    }
    EXIGIR(quarvel::eval_dato_salida(d).size() == 1);
}

// A plan's seconds byte lands on a whole second, the chain never starts in
// the past nor a minute late.
void comprobar_plan(const std::uint8_t* datos, std::size_t largo) {
    if (largo < 8 + 6 * 2 + 1)
        return;
    qint64 ahora = 0;
    std::memcpy(&ahora, datos, sizeof ahora);
    // Years 1970 to about 2100, any microsecond.
    ahora = static_cast<qint64>(static_cast<quint64>(ahora) % 4'102'444'800'000'000ULL);
    std::vector<quarvel::PasoDeCadena> pasos;
    pasos.reserve(6);
    for (int i = 0; i < 6; ++i)
        pasos.push_back({datos[8 + 2 * i] | (datos[9 + 2 * i] << 8), 2});
    const double us_byte = 1e7 / (50 + datos[20] * 1000.0);
    const quarvel::PlanDeEnvio p = quarvel::planificar_envio(ahora, pasos, 5, us_byte);
    EXIGIR(p.borde_us % 1'000'000 == 0 || !p.llega);
    EXIGIR(p.inicio_us >= ahora - 1);
    EXIGIR(!p.llega || p.inicio_us < ahora + 61'000'000);
    EXIGIR(p.borde.toMSecsSinceEpoch() == p.borde_us / 1000);
    const quarvel::PlanDeEnvio s = quarvel::planificar_segundos(ahora, us_byte);
    const int segundo = s.borde.time().second();
    EXIGIR(segundo >= quarvel::kPrimerSegundoSolo && segundo <= quarvel::kUltimoSegundoSolo);
    EXIGIR(s.inicio_us >= ahora - 1 && s.inicio_us < ahora + 61'000'000);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    if (largo < 1)
        return 0;
    // The first byte picks how the rest becomes text, so characters past
    // Latin-1 reach the parsers too.
    const QByteArray resto = quarvel_fuzz::bytes(datos + 1, largo - 1);
    const QString texto = (datos[0] & 1) ? QString::fromUtf8(resto) : QString::fromLatin1(resto);

    const double n = quarvel::numero_de_texto(texto);
    EXIGIR(!std::isnan(n));
    comprobar_codificadores(n);

    try {
        const long e = quarvel::entero_estricto(texto, kNombre);
        // A strict number is a loose one too, rounded half to even.
        EXIGIR(static_cast<double>(e) == std::nearbyint(n));
        try {
            const std::int16_t p = quarvel::a_entero16(e, kNombre);
            EXIGIR(p == e);
        } catch (const quarvel::Fallo&) {
            EXIGIR(e < -32768 || e > 32767);
        }
    } catch (const quarvel::Fallo&) {
    }
    EXIGIR(quarvel::entero_estricto(std::nullopt, kNombre) == 0);

    // Raw doubles and longs too: NaN, infinities, denormals, extremes.
    if (resto.size() >= 8) {
        double d;
        long l;
        std::memcpy(&d, resto.constData(), sizeof d);
        std::memcpy(&l, resto.constData(), sizeof l);
        comprobar_codificadores(d);
        try {
            EXIGIR(quarvel::a_entero16(l, kNombre) == l);
        } catch (const quarvel::Fallo&) {
            EXIGIR(l < -32768 || l > 32767);
        }
    }
    for (int i = 0; i <= 255; i += (datos[0] | 1))
        (void)quarvel::eval_dato_entrada(i);

    // Pieces of the display texts, from anywhere, of any length.
    const int desde = datos[0] % 12;
    const int cuantos = (datos[0] >> 4) % 5;
    EXIGIR(!std::isnan(quarvel::numero_de_pieza(texto, desde, cuantos)));
    EXIGIR(!std::isnan(quarvel::numero_final(texto, cuantos)));
    comprobar_plan(datos, largo);
    return 0;
}
