// The command word: one run of nimbractl.
#ifndef NIMBRA_DISPATCH_H
#define NIMBRA_DISPATCH_H

// Exports the environment, makes the ram directory and runs the command
// named by argv[1]. The process exit status: 0 after any command, 1 for the
// usage text or a failed export.
int nimbractl_main(int argc, char **argv);

// The name under which the program is the in-place repair instead.
extern const char kRepairProgram[];  // "nimbra-repair"

// nimbra-repair: exports the environment and runs repair_agent. Any
// argument prints its usage. 0 when repaired or not running, 1 when a step
// failed, for a usage text or a failed export.
int nimbra_repair_main(int argc, char **argv);

#endif
