#pragma once

#include <QDateTime>

namespace quarvel {

// Where the windows read the computer's date and time.
class FuenteHora {
public:
    virtual ~FuenteHora() = default;
    virtual QDateTime ahora() const = 0;
};

class HoraDelSistema : public FuenteHora {
public:
    QDateTime ahora() const override;
};

// "HH:MM:SS" and "DD/MM/YYYY", the display formats of both windows.
QString formato_hora(const QDateTime& t);
QString formato_fecha(const QDateTime& t);

} // namespace quarvel
