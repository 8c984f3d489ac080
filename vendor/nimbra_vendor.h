/*
 * nimbra vendor API: the ten functions a router vendor's libvendor.so
 * provides to nimbractl. Plain C ABI, usable from C and C++.
 *
 * Every call comes from the single thread of a short-lived process.
 * Texts returned are owned by the library and must stay valid for the
 * whole run; the program never frees or changes them.
 */
#ifndef NIMBRA_VENDOR_H
#define NIMBRA_VENDOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* A hardware flow record; its layout belongs to the vendor library. */
struct nimbra_hw_flow;

/* Path of the INI configuration file, or NULL. Called again on every load. */
const char *nimbra_get_config_path(void);

/* Router identity; NULL or "" means the value is not available. */
const char *nimbra_get_vendor_name(void);
const char *nimbra_get_router_model(void);
const char *nimbra_get_router_serialnum(void);
const char *nimbra_get_router_fw_version(void);
const char *nimbra_get_router_hw_version(void);

/* Active accelerated flows: a malloc'ed block of *count records (the
 * caller sets *count to 0 first and frees a non-NULL block, even when
 * *count is 0), or NULL on failure. */
struct nimbra_hw_flow *nimbra_get_hw_flows(int *count);

/* Raise one flow out of the accelerator; negative on failure. */
int nimbra_raise_hw_flow(struct nimbra_hw_flow *flow);

/* Flush every accelerated flow; negative on failure. */
int nimbra_flush_hw_flows(void);

/* Carry out "iptables -t table operation chain rule" (ip6tables when
 * family is non-zero). table: "filter", "nat" or "mangle"; operation:
 * "-N", "-F", "-D", "-I" or "-A"; rule: the rest of the arguments, or
 * NULL for none. The change must show in "iptables -t table -S".
 * Negative on failure. */
int nimbra_run_iptables_command(const char *table, const char *operation,
                                const char *chain, const char *rule,
                                int family);

/* Optional: a vendor library may leave it out, and nimbractl looks it up at
 * run time (dlsym) instead of linking against it. Carries out a whole batch
 * of changes for one family (ip6tables when family is non-zero) at once and
 * atomically, as "iptables-restore --noflush" reads it: for each table a
 * "*table" line, then ":CHAIN - [0:0]" to create a chain, "-F CHAIN",
 * "-A CHAIN rule", "-I CHAIN rule" or "-D CHAIN rule" lines, then "COMMIT".
 * Negative on failure, and then none of the changes may have taken effect:
 * nimbractl carries them out again one nimbra_run_iptables_command at a
 * time. */
int nimbra_run_iptables_batch(const char *batch, int family);
typedef int (*nimbra_run_iptables_batch_fn)(const char *batch, int family);

#ifdef __cplusplus
}
#endif

#endif /* NIMBRA_VENDOR_H */
