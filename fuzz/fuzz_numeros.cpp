// Number parsing of display and settings texts, the BCD encoders and the
// send values loaded from the date and time texts.
#include "fuzz/apoyo_fuzz.h"

#include "clock_link/codificacion.h"
#include "clock_link/transmision.h"
#include "platform/fallo.h"
#include "platform/numeros.h"

#include <cmath>
#include <cstring>
#include <optional>

namespace {

const QString kNombre = QStringLiteral("[T1]");

void comprobar_codificadores(double d) {
    using Codificador = std::optional<int> (*)(double);
    const Codificador codificadores[] = {quarvel::eval_dato_dia,     quarvel::eval_dato_mes,
                                         quarvel::eval_dato_anio,    quarvel::eval_dato_hora,
                                         quarvel::eval_dato_minutos, quarvel::eval_dato_segundos};
    // Only the whole numbers 0 to 59 have a value, their packed decimal.
    const bool entero_valido = d >= 0 && d <= 59 && d == std::floor(d);
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
    (void)quarvel::segundo_siguiente(d);
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

    // Date and time texts, cut where the input holds a '|'.
    const qsizetype barra = texto.indexOf(u'|');
    const QString fecha = barra < 0 ? texto : texto.left(barra);
    const QString hora = barra < 0 ? texto : texto.mid(barra + 1);
    const auto modo = (datos[0] & 2) ? quarvel::Segundo::Siguiente : quarvel::Segundo::ComoSeLee;
    const quarvel::DatosEnvio envio = quarvel::cargar_datos_envio(fecha, hora, modo);
    for (const auto& v :
         {envio.dia, envio.mes, envio.anio, envio.hora, envio.minutos, envio.segundos}) {
        EXIGIR(!v || (*v >= 0 && *v <= 0x59));
    }
    EXIGIR(envio.segundos == quarvel::segundos_de_envio(hora, modo));
    return 0;
}
