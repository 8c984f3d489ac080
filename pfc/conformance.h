// Conformance test run of the router vendor's library: configuration path,
// router identity, firewall command and flow accelerator checks, with a
// progress log, a summary and one PASS/FAIL line per check.
#ifndef NIMBRA_PFC_CONFORMANCE_H
#define NIMBRA_PFC_CONFORMANCE_H

#include <stdint.h>

// Report levels: result lines, then the log and summary as well.
constexpr unsigned kResultLevel = 1;
constexpr unsigned kLogLevel = 2;

// Sets the report level (0 to 3, initially 1): messages of level 2 (log,
// summary) and 1 (result lines) print when at most the level. Returns level,
// or -1 (old level kept) when it is above 3.
int set_report_level(unsigned level);

// Prints the message on the report stream (stdout when there is none) if
// level is at most the report level.
void report_msg(unsigned level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Runs the four groups and prints the summary and result lines. 0 when the
// ten required checks passed, else -1; the accelerator group does not count.
// Below level 2 stdout and stderr are silenced for the run and given back
// afterwards, at level 1 with the result lines printed on the real stdout.
int run_conformance_tests();

// Each group adds its number of checks to *count (3, 5, 2, 3), stores one
// flag per passed check in *flags (bit 0 = first check) and returns how many
// of its checks passed.
int test_config_file(int *count, uint16_t *flags);
int test_router_id(int *count, uint16_t *flags);
// Creates NIMBRA_VENDOR_TEST in the nat table of each family through the
// vendor and looks for it in "iptables -t nat -S"; removes it again.
int test_iptables(int *count, uint16_t *flags);
int test_accelerator(int *count, uint16_t *flags);

#endif
