// Shell commands: every system() and popen() of the program passes through
// the process runner below, so that tests can record and answer them.
#ifndef NIMBRA_UTIL_PROCESS_H
#define NIMBRA_UTIL_PROCESS_H

#include <stdio.h>

#include "util/result.h"

struct process_runner {
    int (*run)(const char *command);         // as system()
    FILE *(*open_read)(const char *command); // as popen(command, "r")
    int (*close_read)(FILE *stream);         // as pclose()
};

// Installs a runner; nullptr restores system() and popen().
void set_process_runner(const process_runner *runner);

// Runs a command line through the shell; the raw status of system().
int run_system(const char *command);
// Starts a command for reading its standard output; nullptr on failure.
FILE *open_command(const char *command);
// Closes a stream of open_command; the command's wait status.
int close_command(FILE *stream);

// Formats and runs a command line (not echoed). The status of system(), or
// a negative value when formatting failed and nothing ran.
int run_shellf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Echoes each command of a null-terminated list as "--> cmd" and runs it;
// results are ignored.
void run_command_list(const char *const *commands);

// 1 when a line (read in pieces of at most 511 characters) of the command's
// output contains needle; 0 otherwise or when the command cannot start.
int command_output_contains(const char *command, const char *needle);

// Copies the command's output to stream (stdout when NULL) in pieces of at
// most 510 characters. 0, or -1 when the command cannot be started.
int print_command_output(const char *command, FILE *stream);

// Prints "NAME<padded to 30>: value" for an environment variable.
void print_env_var(const char *name);

#endif
