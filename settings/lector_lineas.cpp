#include "settings/lector_lineas.h"

namespace quarvel {

QByteArray LectorLineas::leerLinea() {
    const qsizetype cr = datos_.indexOf('\r', pos_);
    if (cr < 0) {
        QByteArray linea = datos_.mid(pos_);
        pos_ = datos_.size();
        return linea;
    }
    QByteArray linea = datos_.mid(pos_, cr - pos_);
    pos_ = cr + 1;
    if (pos_ < datos_.size() && datos_[pos_] == '\n')
        ++pos_;
    return linea;
}

} // namespace quarvel
