#include "checker/form1.h"
#include "clock_link/puerto_serie_qt.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "settings/gui/form2.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quarvel430"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.quarvel.Quarvel430"));
    QApplication::setWindowIcon(quarvel::icono_programa());
    // The window lives hidden in the tray; closing a message box or the
    // configuration window must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

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
    ventana.Form_Load();
    quarvel::centrar(&ventana);
    if (!ventana.enBandeja())
        ventana.show();
    return QApplication::exec();
}
