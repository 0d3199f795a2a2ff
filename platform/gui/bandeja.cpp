#include "platform/gui/bandeja.h"

#include "platform/gui/controles.h"

#include <QMenu>
#include <QSystemTrayIcon>

// Qt's tray icon, the same on both systems: on Windows it also puts the icon
// back when Explorer restarts.

namespace quarvel {

namespace {

class IconoQt final : public IconoBandeja {
public:
    IconoQt()
        : qt_(new QSystemTrayIcon(this)) {
        connect(qt_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason razon) {
                    // The tray shows the menu itself on a right click.
                    if (razon != QSystemTrayIcon::Context)
                        emit pulsado();
                });
    }

    bool mostrar(const QIcon& icono, const QString& titulo) override {
        if (!qt_->isVisible() && !bandeja_disponible())
            return false;
        imagen_ = icono;
        titulo_ = titulo;
        pintar();
        poner_tip();
        qt_->show();
        return true;
    }
    void fijar_tip(const QString& tip, const QString& detalle) override {
        tip_ = tip;
        detalle_ = detalle;
        poner_tip();
    }
    void fijar_atencion(bool atencion) override {
        if (atencion == atencion_)
            return;
        atencion_ = atencion;
        pintar();
    }
    void avisar(const QString& titulo, const QString& texto) override {
        if (QSystemTrayIcon::supportsMessages())
            qt_->showMessage(titulo, texto, QSystemTrayIcon::Warning, 5000);
    }
    void fijar_menu(QMenu* menu) override { qt_->setContextMenu(menu); }

private:
    void pintar() { qt_->setIcon(atencion_ ? icono_atencion(imagen_) : imagen_); }
    // A tooltip is one text: the title and the whole detail on lines of their
    // own, else the short tip.
    void poner_tip() {
        qt_->setToolTip(detalle_.isEmpty() || titulo_.isEmpty() ? tip_
                                                                : titulo_ + u'\n' + detalle_);
    }

    QSystemTrayIcon* qt_;
    QIcon imagen_;
    QString titulo_;
    QString tip_;
    QString detalle_;
    bool atencion_ = false;
};

} // namespace

std::unique_ptr<IconoBandeja> crear_icono_qt() {
    return std::make_unique<IconoQt>();
}

} // namespace quarvel
