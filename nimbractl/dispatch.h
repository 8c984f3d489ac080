// The command word: one run of nimbractl.
#ifndef NIMBRA_DISPATCH_H
#define NIMBRA_DISPATCH_H

// Exports the environment, makes the ram directory and runs the command
// named by argv[1]. The process exit status: 0 after any command, 1 for the
// usage text or a failed export.
int nimbractl_main(int argc, char **argv);

#endif
