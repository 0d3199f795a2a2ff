// simulador_reloj: serves the clock device model on a pseudo-terminal reached
// through a COM<n> symbolic link.
#include "simulator/opciones.h"
#include "simulator/servidor.h"

int main(int argc, char** argv) {
    quarvel::sim::Servidor servidor(quarvel::sim::parseOptions(argc, argv));
    return servidor.run();
}
