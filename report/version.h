// The version report: the first word of the agent's, the database's and the
// platform database's version files.
#ifndef NIMBRA_REPORT_VERSION_H
#define NIMBRA_REPORT_VERSION_H

// Prints the three versions on stdout: text lines, or with json one JSON
// object line. A missing file gives an empty version.
void print_version(int json);

#endif
