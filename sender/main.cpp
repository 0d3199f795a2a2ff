#include "clock_link/puerto_serie_qt.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "sender/form1.h"
#include "settings/gui/form2.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quarvel38"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.quarvel.Quarvel38"));
    QApplication::setWindowIcon(quarvel::icono_programa());

    quarvel::PuertoSerieQt puerto;
    quarvel::HoraDelSistema hora;
    quarvel::CajaMensajesQt mensajes;
    quarvel38::Entorno entorno{&puerto, &hora, &mensajes, [&mensajes](QWidget* padre) {
                                   quarvel::abrir_configuracion(mensajes, padre);
                               }};
    quarvel38::Form1 ventana(entorno);
    ventana.Form_Load();
    quarvel::centrar(&ventana);
    ventana.show();
    return QApplication::exec();
}
