#include "platform/gui/bandeja.h"

#include "platform/gui/controles.h"
#include "platform/gui/item_sni.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <xcb/xcb.h>

namespace quarvel {

namespace {

// One icon, on whichever tray the desktop has.
struct Icono {
    std::unique_ptr<ItemSni> sni;
    std::unique_ptr<QSystemTrayIcon> xembed;
    QString tip;
    QString detalle;
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

QString texto_tip(const NotifyIconData& d) {
    const std::size_t n = strnlen(d.szTip, sizeof d.szTip);
    return QString::fromLatin1(d.szTip, static_cast<qsizetype>(n));
}

ReceptorBandeja* ventana_de(std::uint32_t hwnd) {
    const auto it = registro().ventanas.find(hwnd);
    return it == registro().ventanas.end() ? nullptr : it->second;
}

void mostrar_texto(Icono& icono, std::uint32_t hwnd) {
    if (icono.sni) {
        icono.sni->setTexto(icono.detalle);
    } else if (icono.xembed) {
        const ReceptorBandeja* v = ventana_de(hwnd);
        const QString titulo = v ? v->tituloBandeja() : QString();
        icono.xembed->setToolTip(icono.detalle.isEmpty() || titulo.isEmpty()
                                     ? icono.tip
                                     : titulo + u'\n' + icono.detalle);
    }
}

void aplicar(Icono& icono, const NotifyIconData& d) {
    if ((d.uFlags & NIF_ICON) && icono.xembed) {
        const auto it = registro().iconos.find(d.hIcon);
        if (it != registro().iconos.end())
            icono.xembed->setIcon(it->second);
    }
    if (d.uFlags & NIF_TIP) {
        icono.tip = texto_tip(d);
        mostrar_texto(icono, d.hWnd);
    }
}

// The icon's notifications reach its window as the callback message with the
// icon's number.
void notificar_ventana(std::uint32_t hwnd, std::uint32_t id, std::uint32_t callback) {
    if (ReceptorBandeja* v = ventana_de(hwnd))
        v->mensajeBandeja(callback, id);
}

// An XEmbed tray: a client owns the screen's tray selection.
bool hay_bandeja_xembed();

// On today's tray when `sni`, else on the old one; neither kind set when the
// icon could show nowhere.
Icono crear(const NotifyIconData& d, bool sni) {
    ReceptorBandeja* ventana = ventana_de(d.hWnd);
    const auto it = registro().iconos.find(d.hIcon);
    const QIcon imagen = it == registro().iconos.end() ? QIcon() : it->second;
    const bool avisa = (d.uFlags & NIF_MESSAGE) != 0;
    const std::uint32_t hwnd = d.hWnd;
    const std::uint32_t id = d.uID;
    const std::uint32_t callback = d.uCallbackMessage;
    Icono icono;
    if (sni) {
        ItemSni::Datos datos;
        datos.id = QCoreApplication::applicationName();
        datos.titulo = ventana->tituloBandeja();
        datos.nombre_icono = nombre_icono_programa();
        datos.icono = imagen;
        datos.menu = ventana->menuBandeja();
        if (avisa)
            datos.activado = [hwnd, id, callback](QPoint) {
                notificar_ventana(hwnd, id, callback);
            };
        icono.sni = std::make_unique<ItemSni>(std::move(datos));
        if (icono.sni->registrado())
            return icono;
        // An item the watcher did not take shows nowhere.
        icono.sni.reset();
        if (!hay_bandeja_xembed())
            return icono;
    }
    icono.xembed = std::make_unique<QSystemTrayIcon>();
    icono.xembed->setIcon(imagen);
    // The tray shows this menu itself on a right click.
    icono.xembed->setContextMenu(ventana->menuBandeja());
    if (avisa)
        QObject::connect(icono.xembed.get(), &QSystemTrayIcon::activated, icono.xembed.get(),
                         [hwnd, id, callback](QSystemTrayIcon::ActivationReason razon) {
                             if (razon != QSystemTrayIcon::Context)
                                 notificar_ventana(hwnd, id, callback);
                         });
    icono.xembed->show();
    return icono;
}

bool hay_bandeja_xembed() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* conexion = x11 ? x11->connection() : nullptr;
    if (conexion == nullptr)
        return false;
    static const QByteArray seleccion = "_NET_SYSTEM_TRAY_S0";
    const xcb_intern_atom_cookie_t c = xcb_intern_atom(
        conexion, 0, static_cast<std::uint16_t>(seleccion.size()), seleccion.constData());
    xcb_intern_atom_reply_t* atomo = xcb_intern_atom_reply(conexion, c, nullptr);
    if (atomo == nullptr)
        return false;
    const xcb_get_selection_owner_cookie_t s = xcb_get_selection_owner(conexion, atomo->atom);
    std::free(atomo);
    xcb_get_selection_owner_reply_t* dueno = xcb_get_selection_owner_reply(conexion, s, nullptr);
    const bool hay = dueno != nullptr && dueno->owner != XCB_NONE;
    std::free(dueno);
    return hay;
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
    for (auto it = r.bandeja.begin(); it != r.bandeja.end();) {
        if (it->first.first == hwnd)
            it = r.bandeja.erase(it);
        else
            ++it;
    }
}

std::uint32_t registrar_icono(const QIcon& icono) {
    const std::uint32_t h = registro().siguiente++;
    registro().iconos[h] = icono;
    return h;
}

bool bandeja_disponible() {
    return hay_anfitrion_sni() || hay_bandeja_xembed();
}

void al_llegar_bandeja(QObject* contexto, std::function<void()> accion) {
    al_llegar_vigilante(contexto, std::move(accion));
}

bool Shell_NotifyIconA(std::uint32_t mensaje, const NotifyIconData* datos) {
    if (datos == nullptr || datos->cbSize != sizeof(NotifyIconData))
        return false;
    auto& r = registro();
    const auto clave = std::make_pair(datos->hWnd, datos->uID);
    switch (mensaje) {
    case NIM_ADD: {
        if (r.ventanas.count(datos->hWnd) == 0 || r.bandeja.count(clave) != 0)
            return false;
        const bool sni = hay_anfitrion_sni();
        if (!sni && !hay_bandeja_xembed())
            return false;
        Icono icono = crear(*datos, sni);
        if (!icono.sni && !icono.xembed)
            return false;
        aplicar(icono, *datos);
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
    mostrar_texto(it->second, hwnd);
}

void aviso_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& titulo,
                   const QString& texto) {
    const auto it = registro().bandeja.find(std::make_pair(hwnd, id));
    if (it == registro().bandeja.end())
        return;
    if (it->second.sni)
        it->second.sni->avisar(titulo, texto);
    else if (it->second.xembed && QSystemTrayIcon::supportsMessages())
        it->second.xembed->showMessage(titulo, texto, QSystemTrayIcon::Warning, 5000);
}

} // namespace quarvel
