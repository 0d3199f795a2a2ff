#include "main_window/barra_puerto.h"

#include "settings/archivos_config.h"

#include <QLabel>

namespace quarvel {

void llenar_barra_puerto(const std::array<QLabel*, 10>& paneles, int com_port,
                         const QString& settings) {
    paneles[1]->setText(QString::number(com_port));
    const qsizetype c1 = settings.indexOf(u',');
    if (c1 >= 0)
        paneles[3]->setText(settings.left(c1));
    const config_com partes = separar_config_com(settings);
    paneles[3]->setText(partes.baud);
    paneles[5]->setText(partes.parity);
    paneles[7]->setText(partes.data);
    paneles[9]->setText(partes.stop);
}

} // namespace quarvel
