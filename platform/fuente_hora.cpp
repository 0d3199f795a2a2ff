#include "platform/fuente_hora.h"

namespace quarvel {

QDateTime HoraDelSistema::ahora() const {
    return QDateTime::currentDateTime();
}

QString formato_hora(const QDateTime& t) {
    return t.time().toString(QStringLiteral("HH:mm:ss"));
}

QString formato_fecha(const QDateTime& t) {
    return t.date().toString(QStringLiteral("dd/MM/yyyy"));
}

} // namespace quarvel
