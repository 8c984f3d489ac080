#include "util/process.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

namespace {

// fgets buffers: a listing is searched in pieces of at most 511
// characters, copied output passes in pieces of at most 510.
constexpr size_t kListingBuffer = 512;
constexpr size_t kCopyBuffer = 511;

// Flushed first so that our own lines come out before the command's when
// both go to the same pipe or file.
int default_run(const char *command) {
    fflush(stdout);
    return system(command);
}

FILE *default_open(const char *command) {
    fflush(stdout);
    return popen(command, "r");
}

const process_runner kDefaultRunner = {default_run, default_open, pclose};

const process_runner *g_runner = &kDefaultRunner;

}  // namespace

void set_process_runner(const process_runner *runner) {
    g_runner = runner ? runner : &kDefaultRunner;
}

int run_system(const char *command) { return g_runner->run(command); }

FILE *open_command(const char *command) { return g_runner->open_read(command); }

int close_command(FILE *stream) { return g_runner->close_read(stream); }

int run_shellf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *command = nullptr;
    int len = vasprintf(&command, format, args);
    va_end(args);
    if (len < 0) return len;
    int status = run_system(command);
    free(command);
    return status;
}

void run_command_list(const char *const *commands) {
    for (; commands && *commands; ++commands) {
        printf("--> %s\n", *commands);
        run_system(*commands);
    }
}

int command_output_contains(const char *command, const char *needle) {
    FILE *stream = open_command(command);
    if (!stream) return 0;
    char line[kListingBuffer];
    while (fgets(line, sizeof(line), stream)) {
        if (strstr(line, needle)) {
            close_command(stream);
            return 1;
        }
    }
    close_command(stream);
    return 0;
}

void print_env_var(const char *name) {
    const char *value = getenv(name);
    printf("%-30s: %s\n", name, value ? value : "");
}

int print_command_output(const char *command, FILE *stream) {
    FILE *output = open_command(command);
    if (!output) return -1;
    if (!stream) stream = stdout;
    char line[kCopyBuffer];
    while (fgets(line, sizeof(line), output)) fputs(line, stream);
    close_command(output);
    return 0;
}
