#include "platform/gui/bandeja.h"

#include "platform/gui/controles.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

// The shell's notification area through Qt's tray icon, which also puts the
// icon back when Explorer restarts.

namespace quarvel {

namespace {

struct Icono {
    std::unique_ptr<QSystemTrayIcon> qt;
    QString tip;
    QString detalle;
    QIcon imagen;
    bool atencion = false;
};

struct Registro {
    std::map<std::uint32_t, ReceptorBandeja*> ventanas;
    std::map<std::uint32_t, QIcon> iconos;
    std::map<std::pair<std::uint32_t, std::uint32_t>, Icono> bandeja;
    std::uint32_t siguiente = 0x100;
};

Registro& registro() {
    static Registro r;
    return r;
}

ReceptorBandeja* ventana_de(std::uint32_t hwnd) {
    const auto it = registro().ventanas.find(hwnd);
    return it == registro().ventanas.end() ? nullptr : it->second;
}

void mostrar(Icono& icono, std::uint32_t hwnd) {
    icono.qt->setIcon(icono.atencion ? icono_atencion(icono.imagen) : icono.imagen);
    const ReceptorBandeja* v = ventana_de(hwnd);
    const QString titulo = v ? v->tituloBandeja() : QString();
    icono.qt->setToolTip(
        icono.detalle.isEmpty() || titulo.isEmpty() ? icono.tip : titulo + u'\n' + icono.detalle);
}

void aplicar(Icono& icono, const NotifyIconData& d) {
    if (d.uFlags & NIF_ICON) {
        const auto it = registro().iconos.find(d.hIcon);
        if (it != registro().iconos.end())
            icono.imagen = it->second;
    }
    if (d.uFlags & NIF_TIP)
        icono.tip = QString::fromLatin1(d.szTip, static_cast<qsizetype>(strnlen(d.szTip, 64)));
    mostrar(icono, d.hWnd);
}

Icono crear(const NotifyIconData& d) {
    ReceptorBandeja* ventana = ventana_de(d.hWnd);
    Icono icono;
    icono.qt = std::make_unique<QSystemTrayIcon>();
    // The shell shows this menu itself on a right click.
    icono.qt->setContextMenu(ventana->menuBandeja());
    if (d.uFlags & NIF_MESSAGE) {
        const std::uint32_t hwnd = d.hWnd;
        const std::uint32_t id = d.uID;
        const std::uint32_t callback = d.uCallbackMessage;
        QObject::connect(icono.qt.get(), &QSystemTrayIcon::activated, icono.qt.get(),
                         [hwnd, id, callback](QSystemTrayIcon::ActivationReason razon) {
                             if (razon == QSystemTrayIcon::Context)
                                 return;
                             if (ReceptorBandeja* v = ventana_de(hwnd))
                                 v->mensajeBandeja(callback, id);
                         });
    }
    return icono;
}

} // namespace

std::uint32_t registrar_ventana(ReceptorBandeja* ventana) {
    const std::uint32_t h = registro().siguiente++;
    registro().ventanas[h] = ventana;
    return h;
}

void olvidar_ventana(std::uint32_t hwnd) {
    auto& r = registro();
    r.ventanas.erase(hwnd);
    std::erase_if(r.bandeja, [hwnd](const auto& par) { return par.first.first == hwnd; });
}

std::uint32_t registrar_icono(const QIcon& icono) {
    const std::uint32_t h = registro().siguiente++;
    registro().iconos[h] = icono;
    return h;
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

bool Shell_NotifyIconA(std::uint32_t mensaje, const NotifyIconData* datos) {
    if (datos == nullptr || datos->cbSize != sizeof(NotifyIconData))
        return false;
    auto& r = registro();
    const auto clave = std::make_pair(datos->hWnd, datos->uID);
    switch (mensaje) {
    case NIM_ADD: {
        if (r.ventanas.count(datos->hWnd) == 0 || r.bandeja.count(clave) != 0 ||
            !bandeja_disponible())
            return false;
        Icono icono = crear(*datos);
        aplicar(icono, *datos);
        icono.qt->show();
        r.bandeja[clave] = std::move(icono);
        return true;
    }
    case NIM_MODIFY: {
        const auto it = r.bandeja.find(clave);
        if (it == r.bandeja.end())
            return false;
        aplicar(it->second, *datos);
        return true;
    }
    case NIM_DELETE:
        return r.bandeja.erase(clave) != 0;
    default:
        return false;
    }
}

void detalle_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& texto) {
    const auto it = registro().bandeja.find(std::make_pair(hwnd, id));
    if (it == registro().bandeja.end())
        return;
    it->second.detalle = texto;
    mostrar(it->second, hwnd);
}

void atencion_bandeja(std::uint32_t hwnd, std::uint32_t id, bool atencion) {
    const auto it = registro().bandeja.find(std::make_pair(hwnd, id));
    if (it == registro().bandeja.end() || it->second.atencion == atencion)
        return;
    it->second.atencion = atencion;
    mostrar(it->second, hwnd);
}

void aviso_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& titulo,
                   const QString& texto) {
    const auto it = registro().bandeja.find(std::make_pair(hwnd, id));
    if (it != registro().bandeja.end() && QSystemTrayIcon::supportsMessages())
        it->second.qt->showMessage(titulo, texto, QSystemTrayIcon::Warning, 5000);
}

} // namespace quarvel
