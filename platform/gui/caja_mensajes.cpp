#include "platform/gui/caja_mensajes.h"

#include "platform/diario.h"

#include <QMessageBox>

namespace quarvel {

void CajaMensajesQt::mostrar(QWidget* padre, const QString& texto, const QString& titulo) {
    informar(padre, texto, titulo, Prioridad::Error);
}

void CajaMensajesQt::informar(QWidget* padre, const QString& texto, const QString& titulo,
                              Prioridad prioridad) {
    diario(prioridad, titulo + QStringLiteral(": ") + texto);
    QMessageBox caja(QMessageBox::NoIcon, titulo, texto, QMessageBox::Ok, padre);
    caja.exec();
}

void CajaMensajesDiario::mostrar(QWidget* padre, const QString& texto, const QString& titulo) {
    informar(padre, texto, titulo, Prioridad::Error);
}

void CajaMensajesDiario::informar(QWidget* /*padre*/, const QString& texto, const QString& titulo,
                                  Prioridad prioridad) {
    diario(prioridad, titulo + QStringLiteral(": ") + texto);
}

} // namespace quarvel
