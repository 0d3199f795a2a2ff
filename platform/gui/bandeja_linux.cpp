#include "platform/gui/bandeja.h"

#include "platform/gui/controles.h"
#include "platform/gui/item_sni.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <cstdlib>
#include <xcb/xcb.h>

namespace quarvel {

namespace {

// An XEmbed tray: a client owns the screen's tray selection.
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

// On today's tray when a StatusNotifierItem host is there, else on the old
// one; and on the old one while the watcher refuses the item or is gone.
class IconoLinux final : public IconoBandeja {
public:
    IconoLinux() {
        // The old tray tells nobody when it goes: looked at now and then.
        vigia_xembed_.setInterval(2000);
        connect(&vigia_xembed_, &QTimer::timeout, this, [this] {
            if (xembed_)
                fijar_visible(hay_bandeja_xembed());
        });
    }

    bool mostrar(const QIcon& icono, const QString& titulo) override {
        imagen_ = icono;
        titulo_ = titulo;
        if (sni_ || xembed_) {
            if (sni_) {
                sni_->setIcono(icono);
                sni_->setTitulo(titulo);
            }
            if (xembed_)
                xembed_->mostrar(icono, titulo);
            return true;
        }
        if (hay_anfitrion_sni())
            return mostrar_sni();
        return hay_bandeja_xembed() && mostrar_xembed();
    }
    void fijar_tip(const QString& tip, const QString& detalle) override {
        tip_ = tip;
        detalle_ = detalle;
        // An item's tooltip has the title over the whole detail: no tip.
        if (sni_)
            sni_->setTexto(detalle);
        if (xembed_)
            xembed_->fijar_tip(tip, detalle);
    }
    void fijar_atencion(bool atencion) override {
        atencion_ = atencion;
        if (sni_)
            sni_->setAtencion(atencion);
        if (xembed_)
            xembed_->fijar_atencion(atencion);
    }
    void avisar(const QString& titulo, const QString& texto) override {
        // The notification service needs no tray of its own.
        if (sni_)
            sni_->avisar(titulo, texto);
        else if (xembed_)
            xembed_->avisar(titulo, texto);
    }
    void fijar_menu(QMenu* menu) override {
        menu_ = menu;
        if (sni_)
            sni_->setMenu(menu);
        if (xembed_)
            xembed_->fijar_menu(menu);
    }

private:
    bool mostrar_sni() {
        ItemSni::Datos datos;
        datos.id = QCoreApplication::applicationName();
        datos.titulo = titulo_;
        datos.nombre_icono = nombre_icono_programa();
        datos.icono = imagen_;
        datos.menu = menu_;
        datos.activado = [this](QPoint) { emit pulsado(); };
        sni_ = std::make_unique<ItemSni>(std::move(datos));
        // The watcher answers later: until then it counts as shown, and a
        // refusal comes through `visibilidad`. Not even on the bus is none.
        if (!sni_->pendiente() && !sni_->registrado()) {
            sni_.reset();
            return false;
        }
        connect(sni_.get(), &ItemSni::registro, this, &IconoLinux::al_registrar);
        sni_->setTexto(detalle_);
        sni_->setAtencion(atencion_);
        return true;
    }

    bool mostrar_xembed() {
        xembed_ = crear_icono_qt();
        connect(xembed_.get(), &IconoBandeja::pulsado, this, &IconoBandeja::pulsado);
        xembed_->fijar_menu(menu_);
        xembed_->fijar_tip(tip_, detalle_);
        xembed_->fijar_atencion(atencion_);
        if (!xembed_->mostrar(imagen_, titulo_)) {
            xembed_.reset();
            return false;
        }
        vigia_xembed_.start();
        return true;
    }

    // The watcher's answer, or its going: taken, the item alone shows;
    // refused or gone, the old tray takes the icon where there is one.
    void al_registrar(bool registrado) {
        if (registrado) {
            xembed_.reset();
            vigia_xembed_.stop();
            fijar_visible(true);
            return;
        }
        const bool hay = hay_bandeja_xembed();
        if (hay && !xembed_)
            mostrar_xembed();
        fijar_visible(hay && xembed_);
    }

    void fijar_visible(bool visible) {
        if (visible == visible_)
            return;
        visible_ = visible;
        emit visibilidad(visible);
    }

    std::unique_ptr<ItemSni> sni_;
    std::unique_ptr<IconoBandeja> xembed_;
    QTimer vigia_xembed_;
    QIcon imagen_;
    QString titulo_;
    QString tip_;
    QString detalle_;
    QPointer<QMenu> menu_;
    bool atencion_ = false;
    // As last told: shown from `mostrar` on.
    bool visible_ = true;
};

} // namespace

std::unique_ptr<IconoBandeja> crear_icono_bandeja() {
    return std::make_unique<IconoLinux>();
}

bool bandeja_disponible() {
    return hay_anfitrion_sni() || hay_bandeja_xembed();
}

void al_llegar_bandeja(QObject* contexto, std::function<void()> accion) {
    al_llegar_vigilante(contexto, std::move(accion));
}

} // namespace quarvel
