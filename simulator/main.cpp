// simulador_reloj: serves the clock device model on a pseudo-terminal reached
// through a COM<n> symbolic link.
#include "clock_device.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace quarvel::sim;

namespace {

const char* const kHelp = R"(uso: simulador_reloj [opciones]

Simula el reloj externo en un pseudo-terminal. Crea el enlace simbolico
DIR/COM<N> que apunta al esclavo (p. ej. /dev/pts/5); los programas abren ese
enlace como puerto serie. El enlace se borra al terminar (SIGINT, SIGTERM o
fin normal). Al arrancar escribe en stdout:  listo: COM<N> -> /dev/pts/X

Opciones:
  --dir DIR            carpeta del enlace (por defecto la actual)
  --port N             nombre del enlace COM<N> (por defecto 1)
  --offset SEGUNDOS    hora del reloj = hora del PC + SEGUNDOS (admite
                       negativos y decimales; por defecto 0)
  --drift-ppm X        deriva del reloj en partes por millon (desde el arranque
                       o desde la ultima puesta en hora)
  --utc                usar la hora UTC del PC en vez de la hora local
  --time-only          arrancar mostrando solo la hora (como tras "CH")
  --baud N             ritmo de envio de la respuesta: 10 bits por byte a N
                       baudios (por defecto 9600, ~1.04 ms por byte)
  --latency MS         espera antes del primer byte de respuesta (por defecto 20)
  --log FICHERO        registro JSON, una linea por comando (se trunca al abrir)
  --quiet              sin esfera; solo lineas de comandos y errores
  --seed N             semilla para --garbage-reply
  --help               esta ayuda

Fallos simulados:
  --no-reply           no responder nunca a "CX"
  --garbage-reply      responder a "CX" con 14 bytes aleatorios (ninguno 0x53)
                       seguidos de "S", para que el lector la de por completa
  --slow-line          enviar la respuesta a 1200 baudios
  --ignore-every K     ignorar cada K-esimo comando bien formado (no se aplica
                       y "CX" no responde); los errores no cuentan
  --vanish-after SEG   a los SEG segundos cerrar el pseudo-terminal, borrar el
                       enlace y salir con estado 0
  --run-for SEG        salir (estado 0) a los SEG segundos

Protocolo (bytes sin trama, letras con mayusculas/minusculas):
  D v  dia (1-31)      M v  mes (1-12)       Y v  anio 00-99 (20yy)
  H v  hora (0-23)     m v  minuto (0-59)    S v  segundo (0-59), pone a 0
                                                  la fraccion de segundo
  CW fin de puesta en hora   CH mostrar solo hora   CF mostrar fecha y hora
  CX pedir fecha y hora
  v es BCD empaquetado (26 -> 0x26). Tras una letra de valor el byte siguiente
  es siempre el valor, aunque coincida con una letra. Un valor no BCD o fuera de
  rango, o que daria una fecha inexistente (31/02), se ignora y se informa.
  Un byte desconocido donde se espera comando se descarta y se informa; "C"
  seguido de un byte desconocido descarta ambos.

Respuesta a "CX" (15 bytes, posiciones desde 1):
  1 'C'  2 'X'  3 'd'  4 DIA   5 'm'  6 MES     7 'y'  8 ANIO
  9 'h' 10 HORA 11 'n' 12 MIN 13 's' 14 SEG    15 'S'
  Valores en BCD con la hora del reloj al recibir "CX". Ningun byte es 0x53
  salvo el ultimo y los valores que valgan 53 (minuto, segundo o anio 53).

Registro (--log), un objeto JSON por linea, escrito y volcado al momento:
  {"t_us":1764943507123456,"cmd":"D","value":5,"byte":5,
   "device":"05/12/2026 14:05:07.123","mode":"fecha_hora"}
  t_us    hora del PC de llegada, microsegundos desde 1970 (UTC)
  cmd     D M Y H m S CW CH CF CX o "error"
  value   valor decimal (si lo hay);  byte  byte crudo del valor, o el byte
          erroneo en los errores
  device  fecha y hora del reloj tras aplicar el comando, dd/mm/aaaa hh:mm:ss.mmm
  mode    "fecha_hora" o "hora"
  error, field, detail   en los errores: comando_desconocido,
          segunda_letra_desconocida, valor_invalido, fecha_inexistente
  ignored true si lo descarto --ignore-every
  reply   en CX, bytes enviados en hexadecimal (ausente con --no-reply)

Estado de salida: 0 normal, 1 fallo del sistema, 2 opcion o valor incorrecto.
)";

struct Options {
    std::string dir = ".";
    int port = 1;
    double offset = 0;
    double driftPpm = 0;
    bool utc = false;
    bool timeOnly = false;
    long baud = 9600;
    double latencyMs = 20;
    std::string logPath;
    bool quiet = false;
    bool noReply = false;
    bool garbageReply = false;
    bool slowLine = false;
    int ignoreEvery = 0;
    double vanishAfter = 0;
    double runFor = 0;
    std::optional<unsigned> seed;
};

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "simulador_reloj: %s\n(pruebe --help)\n", message.c_str());
    std::exit(2);
}

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

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto flag = [&](bool& target) {
            if (inlineValue)
                usageError("la opcion " + arg + " no lleva valor");
            target = true;
        };
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                usageError("falta el valor de " + arg);
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (arg == "--dir") {
            o.dir = value();
        } else if (arg == "--port") {
            o.port = static_cast<int>(parseInteger(arg, value(), 0, 999));
        } else if (arg == "--offset") {
            o.offset = parseNumber(arg, value(), -1e10, 1e10);
        } else if (arg == "--drift-ppm") {
            o.driftPpm = parseNumber(arg, value(), -1e5, 1e5);
        } else if (arg == "--utc") {
            flag(o.utc);
        } else if (arg == "--time-only") {
            flag(o.timeOnly);
        } else if (arg == "--baud") {
            o.baud = parseInteger(arg, value(), 50, 4'000'000);
        } else if (arg == "--latency") {
            o.latencyMs = parseNumber(arg, value(), 0, 60'000);
        } else if (arg == "--log") {
            o.logPath = value();
        } else if (arg == "--quiet") {
            flag(o.quiet);
        } else if (arg == "--no-reply") {
            flag(o.noReply);
        } else if (arg == "--garbage-reply") {
            flag(o.garbageReply);
        } else if (arg == "--slow-line") {
            flag(o.slowLine);
        } else if (arg == "--ignore-every") {
            o.ignoreEvery = static_cast<int>(parseInteger(arg, value(), 1, 1'000'000));
        } else if (arg == "--vanish-after") {
            o.vanishAfter = parseNumber(arg, value(), 0.001, 1e7);
        } else if (arg == "--run-for") {
            o.runFor = parseNumber(arg, value(), 0.001, 1e7);
        } else if (arg == "--seed") {
            o.seed = static_cast<unsigned>(parseInteger(arg, value(), 0, 4'294'967'295L));
        } else {
            usageError("opcion desconocida: " + std::string(argv[i]));
        }
    }
    if (o.noReply && o.garbageReply)
        usageError("--no-reply y --garbage-reply son incompatibles");
    struct stat st {};
    if (::stat(o.dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        usageError("--dir no es una carpeta: '" + o.dir + "'");
    return o;
}

Micros realtimeMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<Micros>(ts.tv_sec) * kMicrosPerSecond + ts.tv_nsec / 1000;
}

Micros monotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Micros>(ts.tv_sec) * kMicrosPerSecond + ts.tv_nsec / 1000;
}

// The device keeps wall-clock time, so it follows the PC's local time.
Micros wallMicros(Micros real, bool utc) {
    if (utc)
        return real;
    time_t secs = static_cast<time_t>(real / kMicrosPerSecond);
    tm local{};
    localtime_r(&secs, &local);
    return real + static_cast<Micros>(local.tm_gmtoff) * kMicrosPerSecond;
}

std::string faceText(const DateTime& dt, DisplayMode mode) {
    char buf[32];
    if (mode == DisplayMode::TimeOnly)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", dt.hour, dt.minute, dt.second);
    else
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", dt.day, dt.month, dt.year,
                      dt.hour, dt.minute, dt.second);
    return buf;
}

// Seven-segment style glyphs, three rows each.
std::vector<std::string> bigText(const std::string& text) {
    static const char* const digits[10][3] = {
        {" _ ", "| |", "|_|"}, {"   ", "  |", "  |"}, {" _ ", " _|", "|_ "}, {" _ ", " _|", " _|"},
        {"   ", "|_|", "  |"}, {" _ ", "|_ ", " _|"}, {" _ ", "|_ ", "|_|"}, {" _ ", "  |", "  |"},
        {" _ ", "|_|", "|_|"}, {" _ ", "|_|", " _|"}};
    std::vector<std::string> rows(3, "  ");
    for (char c : text) {
        for (int r = 0; r < 3; ++r) {
            if (c >= '0' && c <= '9')
                rows[r] += digits[c - '0'][r];
            else if (c == ':')
                rows[r] += r == 0 ? " " : "o";
            else if (c == '/')
                rows[r] += r == 0 ? "  " : (r == 1 ? " /" : "/ ");
            else
                rows[r] += "  ";
            rows[r] += ' ';
        }
    }
    return rows;
}

// Keeps command lines scrolling above a face redrawn in place on a tty.
class Screen {
public:
    Screen(bool quiet, std::string label)
        : quiet_(quiet)
        , tty_(isatty(STDOUT_FILENO) == 1)
        , label_(std::move(label)) {}

    void message(const std::string& line) {
        erase();
        std::printf("%s\n", line.c_str());
        draw();
    }

    void face(const std::string& text, DisplayMode mode) {
        if (quiet_ || (text == text_ && mode == mode_))
            return;
        text_ = text;
        mode_ = mode;
        if (tty_) {
            erase();
            draw();
        } else {
            std::printf("reloj %s\n", text.c_str());
            std::fflush(stdout);
        }
    }

    void finish() {
        if (drawnLines_ > 0)
            std::fflush(stdout);
        drawnLines_ = 0;
    }

private:
    void erase() {
        if (drawnLines_ > 0)
            std::printf("\033[%dA\r\033[J", drawnLines_);
        drawnLines_ = 0;
    }

    void draw() {
        if (!quiet_ && tty_ && !text_.empty()) {
            std::string header = label_ + "  modo " + std::string(modeName(mode_));
            std::printf("\033[2m%s\033[0m\n", header.c_str());
            auto rows = bigText(text_);
            winsize ws{};
            bool fits = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > rows[0].size();
            if (fits) {
                for (const auto& row : rows)
                    std::printf("\033[1;31m%s\033[0m\n", row.c_str());
                drawnLines_ = 4;
            } else {
                std::printf("\033[1;7;31m %s \033[0m\n", text_.c_str());
                drawnLines_ = 2;
            }
        }
        std::fflush(stdout);
    }

    bool quiet_;
    bool tty_;
    std::string label_;
    std::string text_;
    DisplayMode mode_ = DisplayMode::DateTime;
    int drawnLines_ = 0;
};

int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int) {
    int saved = errno;
    char c = 1;
    [[maybe_unused]] auto n = write(signalPipe[1], &c, 1);
    errno = saved;
}

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void systemError(const std::string& what) {
    std::fprintf(stderr, "simulador_reloj: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

struct Pty {
    int master = -1;
    int slave = -1; // held open so the master never sees hangup between clients
    std::string slavePath;
};

Pty openPty() {
    Pty p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0)
        systemError("no se pudo abrir el pseudo-terminal");
    const char* name = ptsname(p.master);
    if (!name)
        systemError("ptsname");
    p.slavePath = name;
    p.slave = open(name, O_RDWR | O_NOCTTY);
    if (p.slave < 0)
        systemError("no se pudo abrir " + p.slavePath);
    termios tio{};
    if (tcgetattr(p.slave, &tio) != 0)
        systemError("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(p.slave, TCSANOW, &tio) != 0)
        systemError("tcsetattr");
    setNonBlocking(p.master);
    setNonBlocking(p.slave);
    return p;
}

void createLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "simulador_reloj: %s existe y no es un enlace simbolico\n",
                         link.c_str());
            std::exit(1);
        }
        unlink(link.c_str()); // stale link from an earlier run
    }
    if (symlink(target.c_str(), link.c_str()) != 0)
        systemError("no se pudo crear el enlace " + link);
}

// Only remove the link if it is still ours; a newer simulator may own it.
void removeLink(const std::string& link, const std::string& target) {
    char buf[4096];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n >= 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
        unlink(link.c_str());
}

std::string terminalLine(const Event& e, Micros latencyUs) {
    std::string when = formatDateTime(e.device).substr(0, 19);
    if (e.command == Command::Error)
        return "error: " + describeError(e) + " -> " + when;
    std::string line = "recibido " + std::string(commandName(e.command));
    if (e.value) {
        char buf[8];
        std::snprintf(buf, sizeof buf, " %02d", *e.value);
        line += buf;
    }
    if (e.ignored)
        return line + " -> ignorado (--ignore-every)";
    line += " -> " + when;
    if (e.command == Command::Query)
        line += e.reply.empty() ? " (sin respuesta)"
                                : " (respuesta en " + std::to_string(latencyUs / 1000) + " ms)";
    return line;
}

} // namespace

int main(int argc, char** argv) {
    Options opt = parseOptions(argc, argv);

    FILE* log = nullptr;
    if (!opt.logPath.empty()) {
        log = std::fopen(opt.logPath.c_str(), "w");
        if (!log)
            usageError("no se puede escribir el registro '" + opt.logPath +
                       "': " + std::strerror(errno));
    }

    if (pipe(signalPipe) != 0)
        systemError("pipe");
    setNonBlocking(signalPipe[0]);
    setNonBlocking(signalPipe[1]);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Pty pty = openPty();

    // Count client opens of the slave so bytes sent while nobody has the port
    // open are lost, as on a real line, instead of waiting for the next client.
    int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    bool trackClients = inotifyFd >= 0 && inotify_add_watch(inotifyFd, pty.slavePath.c_str(),
                                                            IN_OPEN | IN_CLOSE) >= 0;
    int clients = 0;

    std::string portName = "COM" + std::to_string(opt.port);
    std::string linkPath = opt.dir + "/" + portName;
    createLink(linkPath, pty.slavePath);

    ClockDevice::Settings settings;
    settings.offsetSeconds = opt.offset;
    settings.driftPpm = opt.driftPpm;
    settings.mode = opt.timeOnly ? DisplayMode::TimeOnly : DisplayMode::DateTime;
    settings.ignoreEvery = opt.ignoreEvery;
    ClockDevice device(settings, wallMicros(realtimeMicros(), opt.utc));

    std::mt19937 rng(opt.seed ? *opt.seed : std::random_device{}());
    const long baud = opt.slowLine ? 1200 : opt.baud;
    const Micros byteTime = (10 * kMicrosPerSecond + baud - 1) / baud;
    const Micros latency = std::llround(opt.latencyMs * 1000);

    Screen screen(opt.quiet, portName + " -> " + pty.slavePath);
    std::printf("listo: %s -> %s\n", portName.c_str(), pty.slavePath.c_str());
    std::fflush(stdout);

    struct Outgoing {
        std::uint8_t byte;
        Micros due; // monotonic
    };
    std::deque<Outgoing> outgoing;
    Micros lineFreeAt = 0;

    const Micros start = monotonicMicros();
    const Micros never = std::numeric_limits<Micros>::max();
    Micros deadline = never;
    if (opt.runFor > 0)
        deadline = start + std::llround(opt.runFor * kMicrosPerSecond);
    if (opt.vanishAfter > 0)
        deadline =
            std::min<Micros>(deadline, start + std::llround(opt.vanishAfter * kMicrosPerSecond));
    Micros masterPausedUntil = 0;
    bool vanished = false;

    for (;;) {
        Micros nowMono = monotonicMicros();
        if (nowMono >= deadline) {
            vanished = opt.vanishAfter > 0 && (opt.runFor <= 0 || opt.vanishAfter <= opt.runFor);
            break;
        }

        while (!outgoing.empty() && outgoing.front().due <= nowMono) {
            if (trackClients && clients == 0) {
                outgoing.pop_front();
                continue;
            }
            ssize_t n = write(pty.master, &outgoing.front().byte, 1);
            if (n == 1)
                outgoing.pop_front();
            else
                break; // buffer full; retry shortly
        }

        Micros wall = wallMicros(realtimeMicros(), opt.utc);
        DateTime shown = device.now(wall);
        screen.face(faceText(shown, device.mode()), device.mode());

        // Wake at the next device second so the face ticks with the device.
        double rate = 1.0 + device.clock().driftPpm() * 1e-6;
        Micros toNextSecond = static_cast<Micros>((kMicrosPerSecond - shown.micros) / rate) + 1000;
        Micros wake = std::min(deadline, nowMono + toNextSecond);
        if (!outgoing.empty())
            wake = std::min(wake, std::max(outgoing.front().due, nowMono + 1000));

        pollfd fds[3];
        nfds_t nfds = 0;
        fds[nfds++] = {signalPipe[0], POLLIN, 0};
        int masterIndex = -1;
        if (nowMono >= masterPausedUntil) {
            masterIndex = static_cast<int>(nfds);
            fds[nfds++] = {pty.master, POLLIN, 0};
        } else {
            wake = std::min(wake, masterPausedUntil);
        }
        int inotifyIndex = -1;
        if (trackClients) {
            inotifyIndex = static_cast<int>(nfds);
            fds[nfds++] = {inotifyFd, POLLIN, 0};
        }
        Micros waitUs = std::max<Micros>(0, wake - nowMono);
        timespec timeout{static_cast<time_t>(waitUs / kMicrosPerSecond),
                         static_cast<long>(waitUs % kMicrosPerSecond) * 1000};
        int ready = ppoll(fds, nfds, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            systemError("ppoll");
        }
        if (fds[0].revents & POLLIN)
            break;

        if (inotifyIndex >= 0 && (fds[inotifyIndex].revents & POLLIN)) {
            alignas(inotify_event) char buf[4096];
            ssize_t n;
            while ((n = read(inotifyFd, buf, sizeof buf)) > 0) {
                for (char* p = buf; p < buf + n;) {
                    auto* ev = reinterpret_cast<inotify_event*>(p);
                    if (ev->mask & IN_OPEN)
                        ++clients;
                    if ((ev->mask & IN_CLOSE) && --clients <= 0) {
                        clients = 0;
                        // A real port forgets both when its last user closes
                        // it; our own slave fd would otherwise keep them alive.
                        tcflush(pty.slave, TCIFLUSH);
                        ioctl(pty.slave, TIOCNXCL);
                    }
                    p += sizeof(inotify_event) + ev->len;
                }
            }
        }

        if (masterIndex >= 0 && fds[masterIndex].revents) {
            std::uint8_t buf[512];
            ssize_t n = read(pty.master, buf, sizeof buf);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // EIO means no slave is open; ours should prevent it, but do
                // not spin if it happens anyway.
                masterPausedUntil = monotonicMicros() + 50'000;
                continue;
            }
            if (n <= 0)
                continue;
            Micros arrival = realtimeMicros();
            Micros arrivalMono = monotonicMicros();
            auto events =
                device.feed({buf, static_cast<std::size_t>(n)}, wallMicros(arrival, opt.utc));
            for (auto& e : events) {
                if (e.command == Command::Query && !e.reply.empty()) {
                    if (opt.noReply) {
                        e.reply.clear();
                    } else if (opt.garbageReply) {
                        std::uniform_int_distribution<int> dist(0, 254);
                        for (std::size_t i = 0; i + 1 < e.reply.size(); ++i) {
                            int b = dist(rng);
                            e.reply[i] = static_cast<std::uint8_t>(b >= 0x53 ? b + 1 : b);
                        }
                    }
                    Micros t = std::max(arrivalMono + latency, lineFreeAt);
                    for (auto b : e.reply) {
                        outgoing.push_back({b, t});
                        t += byteTime;
                    }
                    lineFreeAt = t;
                }
                screen.message(terminalLine(e, latency));
                if (log) {
                    std::fprintf(log, "%s\n", toJsonLine(e, arrival).c_str());
                    std::fflush(log);
                }
            }
        }
    }

    close(pty.master);
    close(pty.slave);
    removeLink(linkPath, pty.slavePath);
    screen.finish();
    if (vanished)
        std::printf("desaparecido: %s cerrado\n", portName.c_str());
    else
        std::printf("fin: %s\n", portName.c_str());
    std::fflush(stdout);
    if (log)
        std::fclose(log);
    return 0;
}
