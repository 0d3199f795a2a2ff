// Settings files as bytes: qv_int.ini and qv.ini readers on anything a disk
// could hold (NUL bytes, lone CR or LF, huge lines, no final line end).
#include "fuzz/apoyo_fuzz.h"

#include "platform/fallo.h"
#include "settings/archivos_config.h"
#include "settings/lector_lineas.h"

#include <QList>

#include <array>

using quarvel::configuracion_ini;

namespace {

const char* const kMarcadores[9] = {"[COM_PORT]", "[COM_CFG]", "[T1]", "[T2]", "[T3]",
                                    "[T4]",       "[T5]",      "[T6]", "[T7]"};

std::array<const std::optional<QString>*, 9> campos(const configuracion_ini& c) {
    return {&c.com_port, &c.com_cfg, &c.t1, &c.t2, &c.t3, &c.t4, &c.t5, &c.t6, &c.t7};
}

bool sin_cr(const QString& s) {
    return !s.contains(QChar(u'\r'));
}

// The file the programs write, built from nine values that hold no CR.
QByteArray archivo_canonico(const QList<QByteArray>& valores) {
    QByteArray a;
    for (int i = 0; i < 9; ++i) {
        if (i > 0)
            a += "\r\n";
        a += QByteArray(kMarcadores[i]) + "\r\n" + valores[i] + "\r\n";
    }
    return a;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    const QByteArray entrada = quarvel_fuzz::bytes(datos, largo);

    // The line reader consumes everything, never loops, and lines hold no CR.
    {
        quarvel::LectorLineas lector(entrada);
        qsizetype total = 0;
        qsizetype lineas = 0;
        while (!lector.fin()) {
            const QByteArray linea = lector.leerLinea();
            EXIGIR(!linea.contains('\r'));
            total += linea.size();
            EXIGIR(++lineas <= entrada.size());
        }
        EXIGIR(total <= entrada.size());
    }

    try {
        const QString intervalo = quarvel::intervalo_de_bytes(entrada);
        EXIGIR(sin_cr(intervalo));
        EXIGIR(intervalo.size() <= entrada.size());
    } catch (const quarvel::Fallo&) {
        EXIGIR(entrada.isEmpty());
    }

    try {
        const configuracion_ini c = quarvel::configuracion_de_bytes(entrada);
        for (const auto* campo : campos(c)) {
            if (*campo) {
                EXIGIR(sin_cr(**campo));
            }
        }
    } catch (const quarvel::Fallo&) {
        // Only a marker on the last line without a value may refuse.
    }

    // Round trip: nine CR-free values (the input cut at each CR) written the
    // way the programs write them read back unchanged, even when a value looks
    // like a marker.
    QList<QByteArray> valores = entrada.split('\r');
    while (valores.size() < 9)
        valores.append(QByteArray());
    valores.resize(9);
    const configuracion_ini leida = quarvel::configuracion_de_bytes(archivo_canonico(valores));
    const auto leidos = campos(leida);
    for (int i = 0; i < 9; ++i) {
        EXIGIR(leidos[i]->has_value());
        EXIGIR(**leidos[i] == QString::fromLatin1(valores[i]));
    }
    return 0;
}
