#include "platform/gui/caja_mensajes.h"

#include <QMessageBox>

namespace quarvel {

void CajaMensajesQt::mostrar(QWidget* padre, const QString& texto, const QString& titulo) {
    QMessageBox caja(QMessageBox::NoIcon, titulo, texto, QMessageBox::Ok, padre);
    caja.exec();
}

} // namespace quarvel
