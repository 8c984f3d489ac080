// How functions here say how they went; every header that returns a result
// includes this one, and its comments say only where a function differs.
//
//   operations               0, or -1 once they have said why on stderr
//   predicates               1 or 0
//   file and system helpers  0 (or a count), or a negated errno (-ENOENT,
//                            -EIO, ...) for the caller to name with strerror
//   shell runs               the status of system()
//
// Two results follow the system's own rules instead: the vendor library's
// (0 or -1, or a count) and get_iface_ipv6's positive error numbers, kept
// for the messages that print them.
#ifndef NIMBRA_UTIL_RESULT_H
#define NIMBRA_UTIL_RESULT_H
#endif
