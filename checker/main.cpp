#include "checker/form1.h"
#include "clock_link/puerto_serie_qt.h"
#include "main_window/programa.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "settings/gui/form2.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    const quarvel::Programa programa{
        QStringLiteral("Quarvel430"), QStringLiteral("Quarvel 4.3"),
        QStringLiteral("io.github.quarvel.Quarvel430"),
        QStringLiteral("Pone en hora el reloj del puerto serie al arrancar y, desde la bandeja "
                       "del sistema, lo lee cada pocos minutos y lo corrige cuando no esta en "
                       "hora.")};
    if (const auto salida = quarvel::atender_linea_de_ordenes(argc, argv, programa))
        return *salida;
    QApplication app(argc, argv);
    quarvel::preparar_aplicacion(programa);
    // The window lives hidden in the tray; closing a message box or the
    // configuration window must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    quarvel::InstanciaUnica unica(programa.nombre);
    if (unica.otraEnMarcha())
        return 0;

    quarvel::PuertoSerieQt puerto;
    quarvel::HoraDelSistema hora;
    quarvel::CajaMensajesQt mensajes;
    quarvel430::Entorno entorno;
    entorno.puerto = &puerto;
    entorno.hora = &hora;
    entorno.mensajes = &mensajes;
    entorno.configurar = [&mensajes](QWidget* padre) {
        quarvel::abrir_configuracion(mensajes, padre);
    };
    quarvel430::Form1 ventana(entorno);
    QObject::connect(&ventana, &quarvel430::Form1::cerrada, &app, &QApplication::quit);
    // A second start shows the window, as "Restaurar" does.
    QObject::connect(&unica, &quarvel::InstanciaUnica::mostrar, &ventana,
                     &quarvel430::Form1::restaurar_Click);
    quarvel::cerrar_con_senales(&ventana);
    ventana.Form_Load();
    quarvel::centrar(&ventana);
    if (!ventana.enBandeja())
        ventana.show();
    return QApplication::exec();
}
