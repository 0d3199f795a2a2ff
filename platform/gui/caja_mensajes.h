#pragma once

#include "platform/diario.h"

#include <QString>

class QWidget;

namespace quarvel {

// A message box with one OK button, no icon and a title.
class CajaMensajes {
public:
    virtual ~CajaMensajes() = default;
    // What went wrong: the journal gets it as an error.
    virtual void mostrar(QWidget* padre, const QString& texto, const QString& titulo) = 0;
    // The same box for news that is no failure (a save that worked), said
    // in the journal at `prioridad`.
    virtual void informar(QWidget* padre, const QString& texto, const QString& titulo,
                          Prioridad /*prioridad*/) {
        mostrar(padre, texto, titulo);
    }
};

// A modal box; what it says goes to the journal too.
class CajaMensajesQt : public CajaMensajes {
public:
    void mostrar(QWidget* padre, const QString& texto, const QString& titulo) override;
    void informar(QWidget* padre, const QString& texto, const QString& titulo,
                  Prioridad prioridad) override;
};

// With no window, what a box would say goes to the journal only.
class CajaMensajesDiario : public CajaMensajes {
public:
    void mostrar(QWidget* padre, const QString& texto, const QString& titulo) override;
    void informar(QWidget* padre, const QString& texto, const QString& titulo,
                  Prioridad prioridad) override;
};

} // namespace quarvel
