#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QWidget;

namespace quarvel {

// Layouts are given in twips; the windows show 15 twips to a pixel.
constexpr int kTwipsPorPixel = 15;

template <typename W> W* colocar(W* w, int izq, int arriba, int ancho, int alto) {
    w->setGeometry(izq / kTwipsPorPixel, arriba / kTwipsPorPixel, ancho / kTwipsPorPixel,
                   alto / kTwipsPorPixel);
    return w;
}

QLabel* etiqueta(QWidget* padre, const QString& texto, int izq, int arriba, int ancho, int alto);
// A field's caption, which also names it for screen readers.
QLabel* etiqueta_de(QWidget* padre, QWidget* campo, const QString& texto, int izq, int arriba,
                    int ancho, int alto);
// Where a window keeps the controls it never shows: one hidden holder, so
// they stay out of sight and out of screen readers' way.
QWidget* controles_ocultos(QWidget* ventana);
QPushButton* boton(QWidget* padre, const QString& texto, int izq, int arriba, int ancho, int alto);
QLineEdit* campo(QWidget* padre, int izq, int arriba, int ancho, int alto);

// The small dialog font the twip layouts were drawn for (about 8 points).
void fuente_de_ventana(QWidget* ventana);

// Entries 12 (light red) and 0 (black) of the 16-colour palette.
inline const QColor kRojoClaro(0xFF, 0x00, 0x00);
inline const QColor kNegro(0x00, 0x00, 0x00);

void fijar_colores(QLabel* label, const QColor& fondo, const QColor& texto);
QColor color_de_fondo(const QLabel* label);

// The "Enviando" indicator: light red with its caption, or black and empty.
void fijar_indicador(QLabel* label, bool encendido);

// The program's icon, 16 to 256 pixels (from the resources the programs
// link).
QIcon icono_programa();
// Its name in the desktop's icon theme, where the package installs it.
QString nombre_icono_programa();
// The program's icon marked for attention (a port or a clock not answering).
QIcon icono_atencion(const QIcon& icono);
// The program's icon before the clock has answered: its green mark covered
// by a grey disc with a question mark.
QIcon icono_sin_comprobar(const QIcon& icono);

// Centres a window on its screen, as the windows are when first shown.
void centrar(QWidget* ventana);

// The ten-panel status bar of the main windows, widths in twips.
QStatusBar* crear_barra_estado(QWidget* padre, std::array<QLabel*, 10>& paneles);

} // namespace quarvel
