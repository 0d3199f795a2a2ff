#include "platform/gui/bandeja.h"

#include <QSystemTrayIcon>
#include <QTimer>

// The shell's notification area through Qt's tray icon.

namespace quarvel {

std::unique_ptr<IconoBandeja> crear_icono_bandeja() {
    return crear_icono_qt();
}

bool bandeja_disponible() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void al_llegar_bandeja(QObject* contexto, std::function<void()> accion) {
    // The shell tells Qt, not the program, when Explorer (and its
    // notification area) starts: looked at now and then instead.
    auto* vigia = new QTimer(contexto);
    QObject::connect(vigia, &QTimer::timeout, contexto,
                     [accion = std::move(accion), habia = bandeja_disponible()]() mutable {
                         const bool hay = bandeja_disponible();
                         if (hay && !habia)
                             accion();
                         habia = hay;
                     });
    vigia->start(2000);
}

} // namespace quarvel
