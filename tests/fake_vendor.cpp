#include "tests/fake_vendor.h"

#include <stdlib.h>

#include "nimbra_vendor.h"
#include "tests/test_support.h"

namespace {

fake_vendor_state g_state;

}  // namespace

fake_vendor_state &fake_vendor() { return g_state; }

void reset_fake_vendor() { g_state = fake_vendor_state{}; }

const char *nimbra_get_config_path(void) { return g_state.config_path_null ? nullptr : g_state.config_path.c_str(); }

const char *nimbra_get_vendor_name(void) { return g_state.identity[0]; }
const char *nimbra_get_router_model(void) { return g_state.identity[1]; }
const char *nimbra_get_router_serialnum(void) { return g_state.identity[2]; }
const char *nimbra_get_router_fw_version(void) { return g_state.identity[3]; }
const char *nimbra_get_router_hw_version(void) { return g_state.identity[4]; }

struct nimbra_hw_flow *nimbra_get_hw_flows(int *count) {
    if (g_state.flows_null) return nullptr;
    *count = g_state.flow_count;
    return static_cast<struct nimbra_hw_flow *>(calloc(1, 16 * (g_state.flow_count + 1)));
}

int nimbra_raise_hw_flow(struct nimbra_hw_flow *) { return g_state.raise_result; }
int nimbra_flush_hw_flows(void) { return g_state.flush_result; }

int nimbra_run_iptables_command(const char *table, const char *operation, const char *chain, const char *rule,
                                int family) {
    const fake_iptables_call call{table, operation, chain, rule != nullptr, rule ? rule : "", family};
    test_events().push_back("vendor: " + call.table + " " + call.operation + " " + call.chain +
                            (rule ? " " + call.rule : "") + " [" + std::to_string(family) + "]");
    if (g_state.on_iptables) g_state.on_iptables(call);
    return g_state.iptables_result;
}

int fake_iptables_batch(const char *batch, int family) {
    return g_state.on_batch ? g_state.on_batch({family, batch}) : g_state.batch_result;
}
