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

// A modal box; what it says goes to the journal too.
class CajaMensajesQt : public CajaMensajes {
public:
    void mostrar(QWidget* padre, const QString& texto, const QString& titulo) override;
};

// With no window, what a box would say goes to the journal only.
class CajaMensajesDiario : public CajaMensajes {
public:
    void mostrar(QWidget* padre, const QString& texto, const QString& titulo) override;
};

} // namespace quarvel
