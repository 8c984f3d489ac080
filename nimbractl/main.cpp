#include <string.h>

#include "nimbractl/dispatch.h"

int main(int argc, char **argv) {
    const char *name = argc > 0 ? strrchr(argv[0], '/') : nullptr;
    name = name ? name + 1 : (argc > 0 ? argv[0] : "");
    if (strcmp(name, kRepairProgram) == 0) return nimbra_repair_main(argc, argv);
    return nimbractl_main(argc, argv);
}
