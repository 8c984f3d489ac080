#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "nimbractl/dispatch.h"

int main(int argc, char **argv) {
    // Without nimbra_path.base the exported PATH and LD_LIBRARY_PATH begin
    // with an empty entry, which stands for the working directory: from "/"
    // (where a boot script runs us anyway) no program or library can be
    // picked up from wherever the caller happened to stand.
    if (chdir("/") != 0) perror("chdir");
    const char *name = argc > 0 ? strrchr(argv[0], '/') : nullptr;
    name = name ? name + 1 : (argc > 0 ? argv[0] : "");
    if (strcmp(name, kRepairProgram) == 0) return nimbra_repair_main(argc, argv);
    return nimbractl_main(argc, argv);
}
