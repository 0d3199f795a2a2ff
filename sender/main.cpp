#include "main_window/programa.h"
#include "sender/form1.h"

int main(int argc, char* argv[]) {
    const quarvel::Programa programa{
        QStringLiteral("Quarvel38"), QStringLiteral("io.github.quarvel.Quarvel38"),
        QStringLiteral("Envía la fecha y la hora del PC al reloj del puerto serie y "
                       "reenvía los segundos cada pocos minutos.")};
    return quarvel::ejecutar(
        argc, argv, programa,
        [](const quarvel::Entorno& entorno, const quarvel::OpcionesDeArranque&) {
            return std::make_unique<quarvel38::Form1>(entorno);
        });
}
