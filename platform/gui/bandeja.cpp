#include "platform/gui/bandeja.h"

#include <QSystemTrayIcon>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace quarvel {

namespace {

struct Registro {
    std::map<std::uint32_t, ReceptorBandeja*> ventanas;
    std::map<std::uint32_t, QIcon> iconos;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::unique_ptr<QSystemTrayIcon>> bandeja;
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

void aplicar(QSystemTrayIcon& icono, const NotifyIconData& d) {
    if (d.uFlags & NIF_ICON) {
        const auto it = registro().iconos.find(d.hIcon);
        if (it != registro().iconos.end())
            icono.setIcon(it->second);
    }
    if (d.uFlags & NIF_TIP)
        icono.setToolTip(texto_tip(d));
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
    return QSystemTrayIcon::isSystemTrayAvailable();
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
        if (!bandeja_disponible())
            return false;
        auto icono = std::make_unique<QSystemTrayIcon>();
        aplicar(*icono, *datos);
        if (datos->uFlags & NIF_MESSAGE) {
            const std::uint32_t hwnd = datos->hWnd;
            const std::uint32_t id = datos->uID;
            const std::uint32_t callback = datos->uCallbackMessage;
            // Every activation, whatever the button, reaches the window.
            QObject::connect(icono.get(), &QSystemTrayIcon::activated, icono.get(),
                             [hwnd, id, callback](QSystemTrayIcon::ActivationReason) {
                                 const auto it = registro().ventanas.find(hwnd);
                                 if (it != registro().ventanas.end())
                                     it->second->mensajeBandeja(callback, id);
                             });
        }
        icono->show();
        r.bandeja[clave] = std::move(icono);
        return true;
    }
    case NIM_MODIFY: {
        const auto it = r.bandeja.find(clave);
        if (it == r.bandeja.end())
            return false;
        aplicar(*it->second, *datos);
        return true;
    }
    case NIM_DELETE:
        return r.bandeja.erase(clave) != 0;
    default:
        return false;
    }
}

void aviso_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& titulo,
                   const QString& texto) {
    const auto it = registro().bandeja.find(std::make_pair(hwnd, id));
    if (it != registro().bandeja.end() && QSystemTrayIcon::supportsMessages())
        it->second->showMessage(titulo, texto, QSystemTrayIcon::Warning, 5000);
}

void simular_clic_bandeja() {
    auto& r = registro();
    std::vector<QSystemTrayIcon*> iconos;
    for (auto& [clave, icono] : r.bandeja)
        iconos.push_back(icono.get());
    for (QSystemTrayIcon* i : iconos)
        emit i->activated(QSystemTrayIcon::Trigger);
}

} // namespace quarvel
