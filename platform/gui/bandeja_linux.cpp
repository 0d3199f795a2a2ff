#include "platform/gui/bandeja.h"

#include "platform/gui/controles.h"
#include "platform/gui/item_sni.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
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
    QIcon imagen;
    bool atencion = false;
    // Whether a tray shows it, as last told to its window.
    bool visible = true;
};

struct Registro {
    std::map<std::uint32_t, ReceptorBandeja*> ventanas;
    std::map<std::uint32_t, QIcon> iconos;
    std::map<std::pair<std::uint32_t, std::uint32_t>, Icono> bandeja;
    std::uint32_t siguiente = 0x100;
    // Watches the old tray, which tells nobody when it goes.
    std::unique_ptr<QTimer> vigia_xembed;
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

void mostrar_imagen(Icono& icono) {
    if (icono.xembed)
        icono.xembed->setIcon(icono.atencion ? icono_atencion(icono.imagen) : icono.imagen);
    if (icono.sni)
        icono.sni->setAtencion(icono.atencion);
}

void aplicar(Icono& icono, const NotifyIconData& d) {
    if (d.uFlags & NIF_ICON) {
        const auto it = registro().iconos.find(d.hIcon);
        if (it != registro().iconos.end()) {
            icono.imagen = it->second;
            mostrar_imagen(icono);
        }
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

// Tells the icon's window whether a tray shows it, when that changes.
void avisar_visible(std::pair<std::uint32_t, std::uint32_t> clave, bool visible) {
    const auto it = registro().bandeja.find(clave);
    if (it == registro().bandeja.end() || it->second.visible == visible)
        return;
    it->second.visible = visible;
    if (ReceptorBandeja* v = ventana_de(clave.first))
        v->iconoVisible(visible);
}

QSystemTrayIcon* crear_xembed(const QIcon& imagen, ReceptorBandeja* ventana, bool avisa,
                              std::uint32_t hwnd, std::uint32_t id, std::uint32_t callback);

// The old tray looked at now and then, for every icon on it.
void vigilar_xembed() {
    auto& r = registro();
    if (r.vigia_xembed)
        return;
    r.vigia_xembed = std::make_unique<QTimer>();
    QObject::connect(r.vigia_xembed.get(), &QTimer::timeout, [] {
        const bool hay = hay_bandeja_xembed();
        for (auto& [clave, icono] : registro().bandeja)
            if (icono.xembed)
                avisar_visible(clave, hay);
    });
    r.vigia_xembed->start(2000);
}

// A watcher's answer on an item: taken, it shows; refused or gone, the old
// tray takes the icon where there is one, else it shows nowhere.
void al_registrar(std::pair<std::uint32_t, std::uint32_t> clave, bool registrado) {
    const auto it = registro().bandeja.find(clave);
    if (it == registro().bandeja.end())
        return;
    Icono& icono = it->second;
    // Taken again: the old tray's stand-in goes, one icon is enough.
    if (registrado && icono.xembed)
        icono.xembed.reset();
    if (!registrado && !icono.xembed && hay_bandeja_xembed()) {
        ReceptorBandeja* v = ventana_de(clave.first);
        icono.xembed.reset(
            crear_xembed(icono.imagen, v, true, clave.first, clave.second, WM_MOUSEMOVE));
        mostrar_imagen(icono);
        mostrar_texto(icono, clave.first);
        vigilar_xembed();
        registrado = true;
    }
    avisar_visible(clave, registrado || (icono.xembed && hay_bandeja_xembed()));
}

QSystemTrayIcon* crear_xembed(const QIcon& imagen, ReceptorBandeja* ventana, bool avisa,
                              std::uint32_t hwnd, std::uint32_t id, std::uint32_t callback) {
    auto* xembed = new QSystemTrayIcon();
    xembed->setIcon(imagen);
    // The tray shows this menu itself on a right click.
    xembed->setContextMenu(ventana ? ventana->menuBandeja() : nullptr);
    if (avisa)
        QObject::connect(xembed, &QSystemTrayIcon::activated, xembed,
                         [hwnd, id, callback](QSystemTrayIcon::ActivationReason razon) {
                             if (razon != QSystemTrayIcon::Context)
                                 notificar_ventana(hwnd, id, callback);
                         });
    xembed->show();
    return xembed;
}

// On today's tray when `sni` (its watcher answers later), else on the old
// one.
Icono crear(const NotifyIconData& d, bool sni) {
    ReceptorBandeja* ventana = ventana_de(d.hWnd);
    const auto it = registro().iconos.find(d.hIcon);
    const QIcon imagen = it == registro().iconos.end() ? QIcon() : it->second;
    const bool avisa = (d.uFlags & NIF_MESSAGE) != 0;
    const std::uint32_t hwnd = d.hWnd;
    const std::uint32_t id = d.uID;
    const std::uint32_t callback = d.uCallbackMessage;
    Icono icono;
    icono.imagen = imagen;
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
        const auto clave = std::make_pair(hwnd, id);
        QObject::connect(icono.sni.get(), &ItemSni::registro, icono.sni.get(),
                         [clave](bool registrado) { al_registrar(clave, registrado); });
        return icono;
    }
    icono.xembed.reset(crear_xembed(imagen, ventana, avisa, hwnd, id, callback));
    vigilar_xembed();
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
        // An item on the bus shows once the watcher takes it: it counts as
        // added, and its window hears otherwise if it is refused.
        if (icono.sni && !icono.sni->pendiente() && !icono.sni->registrado())
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

void atencion_bandeja(std::uint32_t hwnd, std::uint32_t id, bool atencion) {
    const auto it = registro().bandeja.find(std::make_pair(hwnd, id));
    if (it == registro().bandeja.end() || it->second.atencion == atencion)
        return;
    it->second.atencion = atencion;
    mostrar_imagen(it->second);
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
