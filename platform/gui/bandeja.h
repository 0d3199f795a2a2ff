#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QMenu;

namespace quarvel {

// One icon in the desktop's tray. It shows from `mostrar` until it is
// destroyed; what is set before `mostrar` is kept for it.
class IconoBandeja : public QObject {
    Q_OBJECT
public:
    // Shows the icon under `titulo`, the name the tray gives it; false where
    // there is no tray or it refused the icon at once. A tray that answers
    // later tells through `visibilidad`. Called again, changes both.
    virtual bool mostrar(const QIcon& icono, const QString& titulo) = 0;
    // The short tip, and the whole text (a failure the tip cuts) under the
    // title where the tray shows one; an empty `detalle` leaves the tip.
    virtual void fijar_tip(const QString& tip, const QString& detalle) = 0;
    // The attention icon and, on today's trays, the "NeedsAttention" status.
    virtual void fijar_atencion(bool atencion) = 0;
    // A short balloon; ignored where the desktop shows none.
    virtual void avisar(const QString& titulo, const QString& texto) = 0;
    // The menu the tray shows on its own (a right click); none by default.
    virtual void fijar_menu(QMenu* menu) = 0;

signals:
    // The user clicked the icon (not the tray's own menu request).
    void pulsado();
    // A tray took the icon, or it went away or refused it: a window hidden
    // in the tray must come back. Told only when it changes.
    void visibilidad(bool visible);
};

// The icon on this system's tray: StatusNotifierItem, or XEmbed where only
// the old X11 tray is there; the shell's notification area on Windows.
std::unique_ptr<IconoBandeja> crear_icono_bandeja();

// The icon on Qt's own tray icon (QSystemTrayIcon): Windows' shell, and the
// XEmbed tray on X11.
std::unique_ptr<IconoBandeja> crear_icono_qt();

// Whether the desktop has a tray to show icons in: a StatusNotifierItem host
// (today's panels, Wayland) or an XEmbed tray (the old X11 one). Asking never
// settles Qt's own choice, so a panel that starts late is still found.
bool bandeja_disponible();

// Calls `accion` (in `contexto`) when a tray comes: a panel starting after
// the program.
void al_llegar_bandeja(QObject* contexto, std::function<void()> accion);

} // namespace quarvel
