#!/usr/bin/env bash
# Every message the programs can show a person is in the user's guide: each
# must match a row of a table of docs/guia.md whose header is
# "| Mensaje | Qué significa | Qué hacer |".
#
# The rule, over the C++ sources of settings/, platform/, clock_link/,
# main_window/, checker/ and sender/ (*.cpp and *.h; comments skipped; not
# tests/, simulator/ or fuzz/): every string literal, adjacent literals
# joined as the compiler joins them, whose text without its placeholders
# holds a space and a word of two letters or more. That takes in message
# boxes, status-bar failures, tray and status-line texts, the Historial
# window's texts, journal lines of every priority, --help and the command
# line's errors, and the pieces code puts into them.
#
# Matching: %1..%9 and printf's %s/%d match anything (the guide writes "…"
# there); line breaks and runs of blanks match any run of blanks; a leading
# journal priority ("<3>") is dropped. In the table, backticks, Markdown's
# backslash escapes and <br> do not count. A literal matches within one row,
# in any of its cells.
#
# Exclusions, each with its reason, are listed below (EXCLUIDOS). A new
# message fails this test until its row is in the guide, or it is excluded
# here with a reason.
#
#   tests/mensajes.sh [SOURCE-ROOT]   lists what is missing and exits 1
#                                     (77, skipped, without python3)
set -euo pipefail

raiz=${1:-$(cd "$(dirname "$0")/.." && pwd)}
command -v python3 >/dev/null || { echo "SKIPPED: python3 is missing"; exit 77; }

exec python3 - "$raiz" <<'PY'
import os
import re
import sys

raiz = sys.argv[1]
CARPETAS = ["settings", "platform", "clock_link", "main_window", "checker", "sender"]
GUIA = os.path.join(raiz, "docs", "guia.md")
CABECERA = "| Mensaje | Qué significa | Qué hacer |"

# Whole files that hold no text for a person.
ARCHIVOS_EXCLUIDOS = {
    # The metrics file's "# HELP" lines, in English, for Prometheus.
    "clock_link/metricas.cpp",
}

# Literals that are no message, or that no one can see.
EXCLUIDOS = {
    # Labels of controls, buttons and chart legends: the guide names them
    # where it describes the windows.
    "Baud Rate": "label of the configuration window",
    "Delay en secuencia de envio (en milisegundos)": "label of the configuration window's hidden delay group, never shown",
    "Comando de grabacion": "label of the configuration window's hidden delay group, never shown",
    "Fecha Actual": "label of the main windows",
    "Hora Actual": "label of the main windows",
    "Intervalo en Minutos": "label of the main windows",
    "Fecha y Hora": "the display mode's legend in the main windows",
    "Quarvel 3.8": "window title",
    "Quarvel 4.3": "window title",
    "Ultima Dato Enviado": "label of the sender's window",
    "Ultima Dato Chekeado": "label of the checker's window",
    "Desde la puesta": "a range button of Historial",
    "corregir si se desvía más de": "a check box of Historial",
    "puesta en hora": "a legend of Historial's chart",
    "sin respuesta": "a legend of Historial's chart",
    # Formats and names for machines.
    "dd/MM/yyyy HH:mm:ss": "a date format",
    "dd/MM HH:mm": "a date format of Historial's axis",
    "yyyy-MM-dd HH:mm:ss.zzz ": "the date format of the Windows log file's lines",
    "D-Bus Interface": "a Qt class-info key of the tray's D-Bus objects",
    "the record must keep its 88-byte layout": "a compile-time check",
    # The labels of a line of sincro.txt: a file, shown in the guide whole.
    "fecha reloj : ": "sincro.txt's line",
    "  fecha prog : ": "sincro.txt's line",
    "  hora reloj : ": "sincro.txt's line",
    "  hora prog : ": "sincro.txt's line",
    # Never shown: leer_historial, the only caller of leer_final_de_archivo,
    # skips a history file it cannot read.
    'No se pudo leer "%1" como archivo normal': "unreachable",
    # Never shown: Temporizador::setInterval's only caller,
    # VentanaPrincipal::fijar_retardo, refuses such a value first with its
    # own message ("El valor %1 de %2 en qv.ini no es válido...").
    "Intervalo de %1 no válido: %2 (debe estar entre 0 y %3)": "unreachable",
}

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "'": "'", "\\": "\\", "?": "?"}


def literales(texto):
    """(line, text) of each string literal, adjacent ones joined."""
    salida = []
    grupo = None
    linea = 0
    i, n = 0, len(texto)
    while i < n:
        c = texto[i]
        if texto.startswith("//", i):
            fin = texto.find("\n", i)
            i = n if fin < 0 else fin
            continue
        if texto.startswith("/*", i):
            fin = texto.find("*/", i + 2)
            i = n if fin < 0 else fin + 2
            continue
        if c == "'":
            if i > 0 and texto[i - 1].isdigit():  # a digit separator: 1'000
                i += 1
                continue
            j = i + 1
            while j < n and texto[j] != "'":
                j += 2 if texto[j] == "\\" else 1
            i = j + 1
            if grupo is not None:
                salida.append((linea, grupo))
                grupo = None
            continue
        if c == '"':
            j = i + 1
            partes = []
            while j < n and texto[j] != '"':
                if texto[j] == "\\":
                    e = texto[j + 1]
                    if e == "x":
                        m = re.match(r"[0-9a-fA-F]+", texto[j + 2:])
                        partes.append(chr(int(m.group(0), 16)))
                        j += 2 + len(m.group(0))
                        continue
                    partes.append(ESCAPES.get(e, e))
                    j += 2
                else:
                    partes.append(texto[j])
                    j += 1
            if grupo is None:
                grupo = ""
                linea = texto.count("\n", 0, i) + 1
            grupo += "".join(partes)
            i = j + 1
            continue
        if not c.isspace() and grupo is not None:
            salida.append((linea, grupo))
            grupo = None
        i += 1
    if grupo is not None:
        salida.append((linea, grupo))
    return salida


MARCA = re.compile(r"%[1-9]|%[sd]")


def es_mensaje(texto):
    resto = MARCA.sub("", texto)
    return " " in resto.strip() and re.search(r"[^\W\d_]{2}", resto) is not None


def patron(texto):
    texto = re.sub(r"^<[0-9]>", "", texto)
    texto = " ".join(texto.split())
    piezas = MARCA.split(texto)
    return re.compile(".*?".join(re.escape(p) for p in piezas))


def filas_de_la_tabla(ruta):
    filas = []
    dentro = False
    with open(ruta, encoding="utf-8") as f:
        for linea in f:
            linea = linea.rstrip("\n")
            if linea.strip() == CABECERA:
                dentro = True
                continue
            if dentro and linea.startswith("|"):
                if re.fullmatch(r"\|[\s|:-]+\|?", linea):
                    continue  # the separator row
                t = linea.replace("`", "")
                t = re.sub(r"<br\s*/?>", " ", t)
                t = re.sub(r"\\(.)", r"\1", t)
                filas.append(" ".join(t.split()))
            else:
                dentro = False
    return filas


mensajes = {}
vistos_excluidos = set()
for carpeta in CARPETAS:
    for dir_, _, archivos in os.walk(os.path.join(raiz, carpeta)):
        for nombre in sorted(archivos):
            if not nombre.endswith((".cpp", ".h")):
                continue
            ruta = os.path.join(dir_, nombre)
            relativa = os.path.relpath(ruta, raiz)
            if relativa in ARCHIVOS_EXCLUIDOS:
                continue
            with open(ruta, encoding="utf-8") as f:
                for linea, texto in literales(f.read()):
                    if not es_mensaje(texto):
                        continue
                    if texto in EXCLUIDOS:
                        vistos_excluidos.add(texto)
                        continue
                    mensajes.setdefault(texto, f"{relativa}:{linea}")

# Guards the extraction itself: a lexer that lost its way finds nothing.
if len(mensajes) < 50:
    print(f"FAIL: only {len(mensajes)} messages found in {raiz}: the extraction is broken")
    sys.exit(1)

if not os.path.isfile(GUIA):
    print(f"FAIL: {GUIA} is missing")
    sys.exit(1)
filas = filas_de_la_tabla(GUIA)
faltan = []
for texto, donde in mensajes.items():
    p = patron(texto)
    if not any(p.search(fila) for fila in filas):
        faltan.append((donde, texto))

for texto in sorted(set(EXCLUIDOS) - vistos_excluidos):
    print(f"note: the exclusion {texto!r} matches no literal any more")
for donde, texto in sorted(faltan):
    print(f"FAIL: {donde}: not in the guide's table: {texto!r}")
print(f"{len(mensajes)} messages, {len(filas)} table rows, {len(faltan)} missing")
sys.exit(1 if faltan else 0)
PY
