#include "simulator/opciones.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace quarvel::sim {

namespace {

const char* const kHelp = R"(uso: simulador_reloj [opciones]

Simula el reloj externo en un pseudo-terminal. Crea el enlace simbólico
DIR/COM<N> que apunta al esclavo (p. ej. /dev/pts/5); los programas abren ese
enlace como puerto serie. El enlace se borra al terminar (SIGINT, SIGTERM o
fin normal). Al arrancar escribe en stdout:  listo: COM<N> -> /dev/pts/X

Opciones:
  --dir DIR            carpeta del enlace (por defecto la actual)
  --port N             nombre del enlace COM<N> (por defecto 1)
  --offset SEGUNDOS    hora del reloj = hora del PC + SEGUNDOS (admite
                       negativos y decimales; por defecto 0)
  --drift-ppm X        deriva del reloj en partes por millón (desde el arranque
                       o desde la última puesta en hora)
  --utc                usar la hora UTC del PC en vez de la hora local
  --time-only          arrancar mostrando solo la hora (como tras "CH")
  --baud N             velocidad de la línea en ambos sentidos: 10 bits por
                       byte a N baudios (por defecto 9600, ~1.04 ms por byte).
                       Cada byte recibido termina de llegar un byte después del
                       anterior, o de su lectura si la línea estaba libre, y el
                       reloj lo aplica en ese momento; la respuesta sale a ese
                       mismo ritmo
  --latency MS         espera entre la llegada de "CX" y el primer byte de
                       respuesta (por defecto 20)
  --sample-ms MS       el reloj se lee MS después de llegar "CX" (latencia
                       fija de la respuesta; por defecto 0). La respuesta no
                       sale antes de esa lectura
  --log FICHERO        registro JSON, una línea por comando (se trunca al abrir)
  --quiet              sin esfera; solo líneas de comandos y errores
  --seed N             semilla para --garbage-reply
  --version            mostrar la versión y salir
  --help               esta ayuda

Fallos simulados:
  --no-reply           no responder nunca a "CX"
  --garbage-reply      responder a "CX" con 14 bytes aleatorios (ninguno 0x53)
                       seguidos de "S", para que el lector la dé por completa
  --slow-line          enviar a 1200 baudios (lo recibido sigue a --baud)
  --flood RATE         mientras un cliente tenga el puerto abierto, enviar RATE
                       bytes 0x00 de relleno por segundo (1-100000), al ritmo de
                       la línea; una respuesta sale en cuanto la línea queda
                       libre, sin esperar al relleno
  --ignore-every K     ignorar cada K-ésimo comando bien formado (no se aplica
                       y "CX" no responde); los errores no cuentan
  --vanish-after SEG   a los SEG segundos cerrar el pseudo-terminal, borrar el
                       enlace y salir con estado 0
  --run-for SEG        salir (estado 0) a los SEG segundos
  --knock SEG:SEGUNDOS SEG segundos después de la primera puesta en hora (CW)
                       la hora del reloj salta SEGUNDOS (negativo: atrás),
                       como un golpe o un corte de luz

Protocolo (bytes sin trama, letras con mayúsculas/minúsculas):
  D v  día (1-31)      M v  mes (1-12)       Y v  año 00-99 (20yy)
  H v  hora (0-23)     m v  minuto (0-59)    S v  segundo (0-59), pone a 0
                                                  la fracción de segundo
  CW fin de puesta en hora   CH mostrar solo hora   CF mostrar fecha y hora
  CX pedir fecha y hora
  v es BCD empaquetado (26 -> 0x26). Tras una letra de valor el byte siguiente
  es siempre el valor, aunque coincida con una letra. Un valor no BCD o fuera de
  rango, o que daría una fecha inexistente (31/02), se ignora y se informa.
  Un byte desconocido donde se espera comando se descarta y se informa; "C"
  seguido de un byte desconocido descarta ambos.

Respuesta a "CX" (15 bytes, posiciones desde 1):
  1 'C'  2 'X'  3 'd'  4 DÍA   5 'm'  6 MES     7 'y'  8 AÑO
  9 'h' 10 HORA 11 'n' 12 MIN 13 's' 14 SEG    15 'S'
  Valores en BCD con la hora del reloj al recibir "CX". Ningún byte es 0x53
  salvo el último y los valores que valgan 53 (minuto, segundo o año 53).

Registro (--log), un objeto JSON por línea, escrito y volcado al momento:
  {"t_us":1764943507123456,"cmd":"D","value":5,"byte":5,
   "device":"05/12/2026 14:05:07.123","mode":"fecha_hora"}
  t_us    hora del PC en que terminó de llegar el último byte del comando a la
          velocidad de --baud, microsegundos desde 1970 (UTC)
  cmd     D M Y H m S CW CH CF CX o "error"
  value   valor decimal (si lo hay);  byte  byte crudo del valor, o el byte
          erróneo en los errores
  device  fecha y hora del reloj tras aplicar el comando, dd/mm/aaaa hh:mm:ss.mmm
  mode    "fecha_hora" o "hora"
  error, field, detail   en los errores: comando_desconocido,
          segunda_letra_desconocida, valor_invalido, fecha_inexistente
  ignored true si lo descartó --ignore-every
  reply   en CX, bytes enviados en hexadecimal (ausente con --no-reply)

Estado de salida: 0 normal, 1 fallo del sistema, 2 opción o valor incorrecto.
)";

double parseNumber(const std::string& option, const std::string& text, double min, double max) {
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < min || v > max)
        usageError("valor incorrecto para " + option + ": '" + text + "'");
    return v;
}

long parseInteger(const std::string& option, const std::string& text, long min, long max) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max)
        usageError("valor incorrecto para " + option + ": '" + text + "'");
    return v;
}

// Walks argv, accepting both "--opt value" and "--opt=value".
class Arguments {
public:
    Arguments(int argc, char** argv)
        : argc_(argc)
        , argv_(argv) {}

    bool next() {
        if (++i_ >= argc_)
            return false;
        arg_ = argv_[i_];
        inlineValue_.reset();
        if (auto eq = arg_.find('='); arg_.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue_ = arg_.substr(eq + 1);
            arg_.resize(eq);
        }
        return true;
    }

    const std::string& name() const { return arg_; }
    std::string original() const { return argv_[i_]; }

    void flag(bool& target) const {
        if (inlineValue_)
            usageError("la opción " + arg_ + " no lleva valor");
        target = true;
    }

    std::string value() {
        if (inlineValue_)
            return *inlineValue_;
        if (i_ + 1 >= argc_)
            usageError("falta el valor de " + arg_);
        return argv_[++i_];
    }

private:
    int argc_;
    char** argv_;
    int i_ = 0;
    std::string arg_;
    std::optional<std::string> inlineValue_;
};

void applyOption(Options& o, Arguments& a) {
    const std::string& arg = a.name();
    if (arg == "--help" || arg == "-h") {
        std::fputs(kHelp, stdout);
        std::exit(0);
    } else if (arg == "--version") {
        std::printf("simulador_reloj %s\n", QUARVEL_VERSION);
        std::exit(0);
    } else if (arg == "--dir") {
        o.dir = a.value();
    } else if (arg == "--port") {
        o.port = static_cast<int>(parseInteger(arg, a.value(), 0, 999));
    } else if (arg == "--offset") {
        o.offset = parseNumber(arg, a.value(), -1e10, 1e10);
    } else if (arg == "--drift-ppm") {
        o.driftPpm = parseNumber(arg, a.value(), -1e5, 1e5);
    } else if (arg == "--utc") {
        a.flag(o.utc);
    } else if (arg == "--time-only") {
        a.flag(o.timeOnly);
    } else if (arg == "--baud") {
        o.baud = parseInteger(arg, a.value(), 50, 4'000'000);
    } else if (arg == "--latency") {
        o.latencyMs = parseNumber(arg, a.value(), 0, 60'000);
    } else if (arg == "--sample-ms") {
        o.sampleMs = parseNumber(arg, a.value(), 0, 10'000);
    } else if (arg == "--log") {
        o.logPath = a.value();
    } else if (arg == "--quiet") {
        a.flag(o.quiet);
    } else if (arg == "--no-reply") {
        a.flag(o.noReply);
    } else if (arg == "--garbage-reply") {
        a.flag(o.garbageReply);
    } else if (arg == "--slow-line") {
        a.flag(o.slowLine);
    } else if (arg == "--flood") {
        o.flood = parseInteger(arg, a.value(), 1, 100'000);
    } else if (arg == "--ignore-every") {
        o.ignoreEvery = static_cast<int>(parseInteger(arg, a.value(), 1, 1'000'000));
    } else if (arg == "--vanish-after") {
        o.vanishAfter = parseNumber(arg, a.value(), 0.001, 1e7);
    } else if (arg == "--run-for") {
        o.runFor = parseNumber(arg, a.value(), 0.001, 1e7);
    } else if (arg == "--knock") {
        const std::string v = a.value();
        const auto dos_puntos = v.find(':');
        if (dos_puntos == std::string::npos)
            usageError("--knock espera SEG:SEGUNDOS, no '" + v + "'");
        o.knockAfter = parseNumber(arg, v.substr(0, dos_puntos), 0.001, 1e7);
        o.knockSeconds = parseNumber(arg, v.substr(dos_puntos + 1), -1e7, 1e7);
    } else if (arg == "--seed") {
        o.seed = static_cast<unsigned>(parseInteger(arg, a.value(), 0, 4'294'967'295L));
    } else {
        usageError("opción desconocida: " + a.original());
    }
}

} // namespace

void usageError(const std::string& message) {
    std::fprintf(stderr, "simulador_reloj: %s\n(pruebe --help)\n", message.c_str());
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    Arguments args(argc, argv);
    while (args.next())
        applyOption(o, args);
    if (o.noReply && o.garbageReply)
        usageError("--no-reply y --garbage-reply son incompatibles");
    struct stat st {};
    if (::stat(o.dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        usageError("--dir no es una carpeta: '" + o.dir + "'");
    return o;
}

} // namespace quarvel::sim
