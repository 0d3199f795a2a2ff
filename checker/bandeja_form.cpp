#include "checker/bandeja_form.h"

#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace quarvel {

namespace {

// An icon a record added, with its tip and detail kept apart: the record
// changes the one, detalle_bandeja the other.
struct IconoRegistrado {
    std::unique_ptr<IconoBandeja> icono;
    std::uint32_t hIcon = 0;
    QString tip;
    QString detalle;
};

struct VentanaRegistrada {
    ReceptorBandeja* receptor = nullptr;
    std::map<std::uint32_t, IconoRegistrado> iconos; // by uID
};

struct RegistroBandeja {
    std::map<std::uint32_t, VentanaRegistrada> ventanas;
    std::map<std::uint32_t, QIcon> iconos;
    std::uint32_t siguiente = 0x100;
};

RegistroBandeja& registro_bandeja() {
    static RegistroBandeja r;
    return r;
}

ReceptorBandeja* receptor_registrado(std::uint32_t hwnd) {
    const auto it = registro_bandeja().ventanas.find(hwnd);
    return it == registro_bandeja().ventanas.end() ? nullptr : it->second.receptor;
}

IconoRegistrado* icono_registrado(std::uint32_t hwnd, std::uint32_t id) {
    auto& ventanas = registro_bandeja().ventanas;
    const auto v = ventanas.find(hwnd);
    if (v == ventanas.end())
        return nullptr;
    const auto it = v->second.iconos.find(id);
    return it == v->second.iconos.end() ? nullptr : &it->second;
}

const QIcon* imagen_registrada(std::uint32_t hicon) {
    const auto it = registro_bandeja().iconos.find(hicon);
    return it == registro_bandeja().iconos.end() ? nullptr : &it->second;
}

QString tip_del_registro(const NotifyIconData& d) {
    return QString::fromLatin1(d.szTip, static_cast<qsizetype>(strnlen(d.szTip, sizeof d.szTip)));
}

bool agregar_icono(const NotifyIconData& d, VentanaRegistrada& ventana) {
    if (ventana.iconos.count(d.uID) != 0)
        return false;
    IconoRegistrado nuevo;
    nuevo.icono = crear_icono_bandeja();
    IconoBandeja* icono = nuevo.icono.get();
    // The window is looked up at each notification: one forgotten hears
    // nothing.
    const std::uint32_t hwnd = d.hWnd;
    if (d.uFlags & NIF_MESSAGE)
        QObject::connect(icono, &IconoBandeja::pulsado, icono,
                         [hwnd, id = d.uID, mensaje = d.uCallbackMessage] {
                             if (ReceptorBandeja* r = receptor_registrado(hwnd))
                                 r->mensajeBandeja(mensaje, id);
                         });
    QObject::connect(icono, &IconoBandeja::visibilidad, icono, [hwnd](bool visible) {
        if (ReceptorBandeja* r = receptor_registrado(hwnd))
            r->iconoVisible(visible);
    });
    icono->fijar_menu(ventana.receptor->menuBandeja());
    QIcon imagen;
    if (d.uFlags & NIF_ICON) {
        if (const QIcon* i = imagen_registrada(d.hIcon)) {
            imagen = *i;
            nuevo.hIcon = d.hIcon;
        }
    }
    if (d.uFlags & NIF_TIP) {
        nuevo.tip = tip_del_registro(d);
        icono->fijar_tip(nuevo.tip, QString());
    }
    if (!icono->mostrar(imagen, ventana.receptor->tituloBandeja()))
        return false;
    ventana.iconos[d.uID] = std::move(nuevo);
    return true;
}

void cambiar_icono(const NotifyIconData& d, ReceptorBandeja* receptor, IconoRegistrado& r) {
    // The same icon again is no change: an item's panel would fetch it anew.
    if ((d.uFlags & NIF_ICON) && d.hIcon != r.hIcon) {
        if (const QIcon* i = imagen_registrada(d.hIcon)) {
            r.hIcon = d.hIcon;
            r.icono->mostrar(*i, receptor->tituloBandeja());
        }
    }
    if (d.uFlags & NIF_TIP) {
        r.tip = tip_del_registro(d);
        r.icono->fijar_tip(r.tip, r.detalle);
    }
}

} // namespace

std::uint32_t registrar_ventana(ReceptorBandeja* ventana) {
    auto& r = registro_bandeja();
    const std::uint32_t h = r.siguiente++;
    r.ventanas[h].receptor = ventana;
    return h;
}

void olvidar_ventana(std::uint32_t hwnd) {
    registro_bandeja().ventanas.erase(hwnd);
}

std::uint32_t registrar_icono(const QIcon& icono) {
    auto& r = registro_bandeja();
    const std::uint32_t h = r.siguiente++;
    r.iconos[h] = icono;
    return h;
}

bool Shell_NotifyIconA(std::uint32_t mensaje, const NotifyIconData* datos) {
    if (datos == nullptr || datos->cbSize != sizeof(NotifyIconData))
        return false;
    auto& ventanas = registro_bandeja().ventanas;
    const auto v = ventanas.find(datos->hWnd);
    if (v == ventanas.end())
        return false;
    auto& iconos = v->second.iconos;
    switch (mensaje) {
    case NIM_ADD:
        return agregar_icono(*datos, v->second);
    case NIM_MODIFY: {
        const auto it = iconos.find(datos->uID);
        if (it == iconos.end())
            return false;
        cambiar_icono(*datos, v->second.receptor, it->second);
        return true;
    }
    case NIM_DELETE:
        return iconos.erase(datos->uID) != 0;
    default:
        return false;
    }
}

void detalle_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& texto) {
    if (IconoRegistrado* r = icono_registrado(hwnd, id)) {
        r->detalle = texto;
        r->icono->fijar_tip(r->tip, texto);
    }
}

void atencion_bandeja(std::uint32_t hwnd, std::uint32_t id, bool atencion) {
    if (IconoRegistrado* r = icono_registrado(hwnd, id))
        r->icono->fijar_atencion(atencion);
}

void aviso_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& titulo,
                   const QString& texto) {
    if (IconoRegistrado* r = icono_registrado(hwnd, id))
        r->icono->avisar(titulo, texto);
}

} // namespace quarvel
