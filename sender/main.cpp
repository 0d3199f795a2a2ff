#include "clock_link/puerto_serie_qt.h"
#include "main_window/programa.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "sender/form1.h"
#include "settings/gui/form2.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    const quarvel::Programa programa{
        QStringLiteral("Quarvel38"), QStringLiteral("Quarvel 3.8"),
        QStringLiteral("io.github.quarvel.Quarvel38"),
        QStringLiteral("Envia la fecha y la hora del ordenador al reloj del puerto serie y "
                       "reenvia los segundos cada pocos minutos.")};
    if (const auto salida = quarvel::atender_linea_de_ordenes(argc, argv, programa))
        return *salida;
    QApplication app(argc, argv);
    quarvel::preparar_aplicacion(programa);
    quarvel::InstanciaUnica unica(programa.nombre);
    if (unica.otraEnMarcha())
        return 0;

    quarvel::PuertoSerieQt puerto;
    quarvel::HoraDelSistema hora;
    quarvel::CajaMensajesQt mensajes;
    quarvel38::Entorno entorno{&puerto, &hora, &mensajes, [&mensajes](QWidget* padre) {
                                   quarvel::abrir_configuracion(mensajes, padre);
                               }};
    quarvel38::Form1 ventana(entorno);
    QObject::connect(&unica, &quarvel::InstanciaUnica::mostrar, &ventana, [&ventana] {
        ventana.showNormal();
        ventana.raise();
        ventana.activateWindow();
    });
    quarvel::cerrar_con_senales(&ventana);
    ventana.Form_Load();
    quarvel::centrar(&ventana);
    ventana.show();
    return QApplication::exec();
}
