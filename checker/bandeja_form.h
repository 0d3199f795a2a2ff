#pragma once

#include "platform/gui/bandeja.h"

#include <QIcon>
#include <QString>
#include <cstdint>

class QMenu;

// The checker window's tray calls: the shell's notify-icon record and its
// messages, on top of the tray icon of platform/gui.

namespace quarvel {

// The tray icon record, laid out as the shell's single-byte notify-icon
// record: 88 bytes, handles as 32-bit numbers.
struct NotifyIconData {
    std::uint32_t cbSize = 0;
    std::uint32_t hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    std::uint32_t hIcon = 0;
    char szTip[64] = {};
};
static_assert(sizeof(NotifyIconData) == 88, "the record must keep its 88-byte layout");

constexpr std::uint32_t NIM_ADD = 0;
constexpr std::uint32_t NIM_MODIFY = 1;
constexpr std::uint32_t NIM_DELETE = 2;
constexpr std::uint32_t NIF_MESSAGE = 1;
constexpr std::uint32_t NIF_ICON = 2;
constexpr std::uint32_t NIF_TIP = 4;
constexpr std::uint32_t WM_MOUSEMOVE = 512;

// A window that receives the icon's notifications: the callback message with
// the icon's number where the mouse-move message carries the button state.
class ReceptorBandeja {
public:
    virtual ~ReceptorBandeja() = default;
    virtual void mensajeBandeja(std::uint32_t mensaje, std::uint32_t id) = 0;
    // The name the tray shows for the icon, and the menu a panel shows on
    // its own (a right click); none by default.
    virtual QString tituloBandeja() const { return {}; }
    virtual QMenu* menuBandeja() { return nullptr; }
    // The icon can be seen (a tray took it), or no longer (the tray went
    // away, or refused it): a window hidden in the tray must come back.
    virtual void iconoVisible(bool /*visible*/) {}
};

// Handles for windows and icons, as 32-bit numbers the record can hold. A
// window forgotten takes its icons with it.
std::uint32_t registrar_ventana(ReceptorBandeja* ventana);
void olvidar_ventana(std::uint32_t hwnd);
std::uint32_t registrar_icono(const QIcon& icono);

// Adds (NIM_ADD), changes (NIM_MODIFY) or removes (NIM_DELETE) an icon.
// Returns false where there is no tray or the record names nothing known.
bool Shell_NotifyIconA(std::uint32_t mensaje, const NotifyIconData* datos);

// The whole text under the icon's title (a failure the 64-byte tip cuts), or
// none.
void detalle_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& texto);

// Marks an icon added before as needing attention (a port or a clock that
// does not answer), or not.
void atencion_bandeja(std::uint32_t hwnd, std::uint32_t id, bool atencion);

// A short balloon message on an icon added before; ignored where the
// desktop shows none.
void aviso_bandeja(std::uint32_t hwnd, std::uint32_t id, const QString& titulo,
                   const QString& texto);

} // namespace quarvel
