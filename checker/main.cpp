#include "checker/form1.h"
#include "main_window/programa.h"

int main(int argc, char* argv[]) {
    const quarvel::Programa programa{
        QStringLiteral("Quarvel430"), QStringLiteral("io.github.quarvel.Quarvel430"),
        QStringLiteral("Pone en hora el reloj del puerto serie al arrancar y, desde la bandeja "
                       "del sistema, lo lee cada pocos minutos y lo corrige cuando no está en "
                       "hora."),
        true};
    return quarvel::ejecutar(
        argc, argv, programa,
        [](const quarvel::Entorno& entorno, const quarvel::OpcionesDeArranque& opciones) {
            quarvel430::Entorno e;
            static_cast<quarvel::Entorno&>(e) = entorno;
            e.metricas = opciones.metricas;
            e.con_ventana = opciones.con_ventana;
            if (opciones.sin_ventana) {
                // No tray to look for: the icon's calls go nowhere.
                e.hay_bandeja = [] { return false; };
                e.notificar = [](std::uint32_t, const quarvel::NotifyIconData*) { return false; };
                e.al_llegar_bandeja = nullptr;
            }
            return std::make_unique<quarvel430::Form1>(e);
        });
}
