// The status report: whether the agent runs and where, whether the router
// is provisioned, the agent services' supervision state and cloud links.
#ifndef NIMBRA_REPORT_STATUS_H
#define NIMBRA_REPORT_STATUS_H

#include <stdio.h>

// Prints the report on stdout: text lines, or with json one JSON object line.
void print_status(int json);

// The cloud connectivity section. With json, adds the "rclient" member to
// the object in buffer (of capacity bytes); otherwise prints its text lines
// and ignores the buffer.
void print_cloud_status(int json, char *buffer, int capacity);

// 1 provisioned, 0 not, -1 identity present but no usable token. Holds the
// provisioning lock file while it reads and removes it afterwards.
int get_provisioning_state();

#endif
