#include "tests/apoyo.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

int en_hijo(const std::function<int()>& f) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(f());
    int estado = 0;
    waitpid(pid, &estado, 0);
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : 100;
}

int con_disco_lleno(qint64 bytes, const std::function<int()>& f) {
    return en_hijo([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limite{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
        setrlimit(RLIMIT_FSIZE, &limite);
        return f();
    });
}

bool crear_tuberia(const char* nombre) {
    return ::mkfifo(nombre, 0600) == 0;
}
