#pragma once

#include <QString>

class QWidget;

namespace quarvel {

// A message box with one OK button, no icon and a title.
class CajaMensajes {
public:
    virtual ~CajaMensajes() = default;
    virtual void mostrar(QWidget* padre, const QString& texto, const QString& titulo) = 0;
};

class CajaMensajesQt : public CajaMensajes {
public:
    void mostrar(QWidget* padre, const QString& texto, const QString& titulo) override;
};

} // namespace quarvel
