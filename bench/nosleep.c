// LD_PRELOAD shim: sleep() returns at once, so that start can be timed
// without its one-second pause. Only in the process it is preloaded into:
// its children (the agent's daemons among them) sleep as they should.
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void not_for_children(void) { unsetenv("LD_PRELOAD"); }

unsigned int sleep(unsigned int seconds) {
    (void)seconds;
    return 0;
}
