// libvendor.so in unit tests: records every call, answers from fake_vendor().
#ifndef NIMBRA_TESTS_FAKE_VENDOR_H
#define NIMBRA_TESTS_FAKE_VENDOR_H

#include <functional>
#include <string>

struct fake_iptables_call {
    std::string table, operation, chain;
    bool has_rule;
    std::string rule;
    int family;
};

struct fake_batch {
    int family;
    std::string text;
};

struct fake_vendor_state {
    bool config_path_null = false;
    std::string config_path;
    // vendor name, model, serial, FW version, HW version; nullptr = NULL
    const char *identity[5] = {"Vendor", "Model", "SN1", "1.0", "A1"};
    int iptables_result = 0;
    std::function<void(const fake_iptables_call &)> on_iptables;
    int batch_result = 0;
    std::function<int(const fake_batch &)> on_batch;  // its result, when set
    bool flows_null = false;
    int flow_count = 0, raise_result = 0, flush_result = 0;
};

fake_vendor_state &fake_vendor();
void reset_fake_vendor();

// The optional batch entry point, offered by set_vendor_iptables_batch().
int fake_iptables_batch(const char *batch, int family);

#endif
