#include "pfc/conformance.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <iterator>
#include <memory>

#include "firewall/command.h"
#include "libraries/nimbracfg/tkvs.h"
#include "nimbra_vendor.h"
#include "util/format.h"
#include "util/process.h"

namespace {

constexpr unsigned kMaxReportLevel = 3;

uint8_t g_report_level = 1;
FILE *g_report_stream = nullptr;  // nullptr: stdout

const char kDevNull[] = "/dev/null";

// Labels of each group's result lines, in the bit order of its flags.
const char *const kConfigResults[] = {
    "CONFIG FILE - FILE PATH",
    "CONFIG FILE - FILE EXISTS",
    "CONFIG FILE - FILE LOADS",
};
const char *const kRouterIdResults[] = {
    "ROUTER ID - VENDOR NAME", "ROUTER ID - MODEL",
    "ROUTER ID - SERIAL",      "ROUTER ID - FW VERSION",
    "ROUTER ID - HW VERSION",
};
const char *const kIptablesResults[] = {
    "IPTABLES - CREATE NAT CHAIN (IPv4)",
    "IPTABLES - CREATE NAT CHAIN (IPv6)",
};
const char *const kAcceleratorResults[] = {
    "ACCELERATOR - GET ACTIVE FLOWS",
    "ACCELERATOR - CALL FLOW RAISE",
    "ACCELERATOR - CALL FLOW FLUSH",
};

enum config_check : uint16_t {
    kConfigPath = 1 << 0,
    kConfigExists = 1 << 1,
    kConfigLoads = 1 << 2
};
enum accelerator_check : uint16_t {
    kFlowsFound = 1 << 0,
    kFlowRaised = 1 << 1,
    kFlowsFlushed = 1 << 2
};

struct identity_check {
    const char *(*get)(void);
    const char *label;  // of the text found
    const char *failed;
};

const identity_check kIdentityChecks[] = {
    {nimbra_get_vendor_name, "vendor name", "    failed to retrieve vendor name\n"},
    {nimbra_get_router_model, "router model", "    failed to retrieve router model\n"},
    {nimbra_get_router_serialnum, "router serial",
     "    failed to retrieve router serial number\n"},
    {nimbra_get_router_fw_version, "router FW version",
     "    failed to retrieve router FW version\n"},
    {nimbra_get_router_hw_version, "router HW version",
     "    failed to retrieve router HW version\n"},
};
static_assert(std::size(kIdentityChecks) == std::size(kRouterIdResults),
              "one result per identity check");

const char kTestChain[] = "NIMBRA_VENDOR_TEST";
const char kTestChainCreated[] = "-N NIMBRA_VENDOR_TEST";

// One per family, in the order of the result lines.
struct chain_check {
    ip_family family;
    const char *listing;
    const char *remove;
    const char *creating;
    const char *failed;
};

const chain_check kChainChecks[] = {
    {FAMILY_IPV4, "iptables -t nat -S", "iptables -t nat -X NIMBRA_VENDOR_TEST",
     "    creating iptables nat chain ...\n",
     "    failed to create NIMBRA_VENDOR_TEST chain in iptables nat table ...\n"},
    {FAMILY_IPV6, "ip6tables -t nat -S", "ip6tables -t nat -X NIMBRA_VENDOR_TEST",
     "    creating ip6tables nat chain ...\n",
     "    failed to create NIMBRA_VENDOR_TEST chain in ip6tables nat table ...\n"},
};
static_assert(std::size(kChainChecks) == std::size(kIptablesResults), "one result per family");

struct free_deleter {
    void operator()(void *block) const { free(block); }
};

// A group has as many checks as result lines.
template <size_t N>
int finish_group(const char *const (&)[N], uint16_t passed, int *count, uint16_t *flags) {
    *count += static_cast<int>(N);
    *flags = passed;
    return __builtin_popcount(passed);
}

template <size_t N>
void report_results(const char *const (&results)[N], uint16_t flags) {
    for (size_t bit = 0; bit < N; ++bit)
        report_msg(kResultLevel, "TEST | %s: %s\n", results[bit], flags & (1u << bit) ? "PASS" : "FAIL");
}

// Copies of the real stdout and stderr descriptors while a quiet run has
// the streams on /dev/null.
struct saved_streams {
    int out = -1;
    int err = -1;
};

// false when the streams could not all be copied and silenced.
bool silence_standard_streams(saved_streams *saved) {
    fflush(stdout);
    fflush(stderr);
    saved->out = dup(STDOUT_FILENO);
    saved->err = dup(STDERR_FILENO);
    return saved->out >= 0 && saved->err >= 0 && freopen(kDevNull, "w", stdout) &&
           freopen(kDevNull, "w", stderr);
}

// Puts the saved descriptors back under stdout and stderr and closes the
// result stream, which owns the saved stdout copy when it exists.
void restore_standard_streams(saved_streams *saved) {
    fflush(stdout);
    fflush(stderr);
    if (g_report_stream) fflush(g_report_stream);
    if (saved->out >= 0) dup2(saved->out, STDOUT_FILENO);
    if (saved->err >= 0) dup2(saved->err, STDERR_FILENO);
    if (g_report_stream)
        fclose(g_report_stream);
    else if (saved->out >= 0)
        close(saved->out);
    if (saved->err >= 0) close(saved->err);
    g_report_stream = nullptr;
    // freopen() gave both streams the buffering of /dev/null: take back that
    // of what they point at again, stderr unbuffered as at start-up.
    clearerr(stdout);
    clearerr(stderr);
    setvbuf(stdout, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace

int set_report_level(unsigned level) {
    if (level > kMaxReportLevel) return -1;
    g_report_level = static_cast<uint8_t>(level);
    return static_cast<int>(level);
}

void report_msg(unsigned level, const char *format, ...) {
    if (level > g_report_level) return;
    va_list args;
    va_start(args, format);
    vfprintf(g_report_stream ? g_report_stream : stdout, format, args);
    va_end(args);
}

int test_config_file(int *count, uint16_t *flags) {
    uint16_t passed = 0;
    report_msg(kLogLevel, "*** Running config path/file tests ***\n");
    report_msg(kLogLevel, "    getting path ...\n");
    const char *path = nimbra_get_config_path();
    if (!path) {
        report_msg(kLogLevel, "    failed to retrieve config file path\n");
        return finish_group(kConfigResults, passed, count, flags);
    }
    passed |= kConfigPath;
    report_msg(kLogLevel, "    file path: %s\n", path);
    report_msg(kLogLevel, "    searching for file ...\n");
    if (access(path, F_OK) != 0) {
        report_msg(kLogLevel, "    file '%s' does not exist\n", path);
        return finish_group(kConfigResults, passed, count, flags);
    }
    passed |= kConfigExists;
    report_msg(kLogLevel, "    loading file ...\n");
    ini_image *image = tkvs_load_file(path);
    if (image)
        passed |= kConfigLoads;
    else
        report_msg(kLogLevel, "    failed to load file '%s'\n", path);
    tkvs_free_image(image);
    return finish_group(kConfigResults, passed, count, flags);
}

int test_router_id(int *count, uint16_t *flags) {
    report_msg(kLogLevel, "\n*** Running router identification tests ***\n");
    // All five are asked before any is looked at: a library may build its
    // texts in one go on the first call.
    const char *texts[std::size(kIdentityChecks)];
    for (size_t i = 0; i < std::size(kIdentityChecks); ++i) texts[i] = kIdentityChecks[i].get();
    uint16_t passed = 0;
    for (size_t i = 0; i < std::size(kIdentityChecks); ++i) {
        if (texts[i] && *texts[i]) {
            passed |= static_cast<uint16_t>(1u << i);
            report_msg(kLogLevel, "    %s: %s\n", kIdentityChecks[i].label, texts[i]);
        } else {
            report_msg(kLogLevel, "%s", kIdentityChecks[i].failed);
        }
    }
    return finish_group(kRouterIdResults, passed, count, flags);
}

int test_iptables(int *count, uint16_t *flags) {
    report_msg(kLogLevel, "\n*** Running iptables command tests ***\n");
    report_msg(kLogLevel, "    clearing nat chains prior to test ...\n");
    // A chain left by an earlier run would make "-N" fail.
    for (const chain_check &check : kChainChecks)
        if (command_output_contains(check.listing, kTestChain)) run_system(check.remove);

    uint16_t passed = 0;
    for (size_t i = 0; i < std::size(kChainChecks); ++i) {
        const chain_check &check = kChainChecks[i];
        report_msg(kLogLevel, "%s", check.creating);
        if (nimbra_run_iptables_command("nat", "-N", kTestChain, nullptr, check.family) >= 0 &&
            command_output_contains(check.listing, kTestChainCreated)) {
            passed |= static_cast<uint16_t>(1u << i);
            run_system(check.remove);
        } else {
            report_msg(kLogLevel, "%s", check.failed);
        }
    }
    return finish_group(kIptablesResults, passed, count, flags);
}

int test_accelerator(int *count, uint16_t *flags) {
    uint16_t passed = 0;
    report_msg(kLogLevel, "\n*** Running accelerator command tests ***\n");
    report_msg(kLogLevel, "    getting accelerated flows ...\n");
    int flow_count = 0;
    std::unique_ptr<nimbra_hw_flow, free_deleter> flows(nimbra_get_hw_flows(&flow_count));
    if (!flows) {
        report_msg(kLogLevel, "    failed to retrieve flow data\n");
    } else if (flow_count < 1) {
        report_msg(kLogLevel, "    no active flows found\n");
    } else {
        passed |= kFlowsFound;
        report_msg(kLogLevel, "    retrieved %d flows\n", flow_count);
        report_msg(kLogLevel, "    raising 1st flow in list\n");
        if (nimbra_raise_hw_flow(flows.get()) < 0)
            report_msg(kLogLevel, "    failed to raise flow\n");
        else
            passed |= kFlowRaised;
        report_msg(kLogLevel, "    flushing all flows\n");
        if (nimbra_flush_hw_flows() < 0)
            report_msg(kLogLevel, "    failed to flush flows\n");
        else
            passed |= kFlowsFlushed;
    }
    return finish_group(kAcceleratorResults, passed, count, flags);
}

int run_conformance_tests() {
    time_t now = time(nullptr);
    const struct tm *local = localtime(&now);
    int count = 0;
    uint16_t config_flags = 0, router_id_flags = 0, iptables_flags = 0, accelerator_flags = 0;
    saved_streams saved;
    bool quiet = g_report_level < kLogLevel && silence_standard_streams(&saved);

    report_msg(kLogLevel, "*** Nimbra Vendor Library Conformance Tests ***\n");
    char date[kDateSize] = "\n";
    if (local) format_date(local, date, sizeof(date));
    report_msg(kLogLevel, "    Date: %s\n", date);

    int passed = test_config_file(&count, &config_flags);
    passed += test_router_id(&count, &router_id_flags);
    passed += test_iptables(&count, &iptables_flags);
    int result = passed == count ? 0 : -1;
    passed += test_accelerator(&count, &accelerator_flags);

    report_msg(kLogLevel, "\n*** Conformance Tests Complete ***\n");
    report_msg(kLogLevel, "    Passed: %d\n", passed);
    report_msg(kLogLevel, "    Failed: %d\n\n", count - passed);

    // Only the result lines reach the real stdout of a quiet run.
    if (quiet && g_report_level >= kResultLevel) g_report_stream = fdopen(saved.out, "w");
    report_results(kConfigResults, config_flags);
    report_results(kRouterIdResults, router_id_flags);
    report_results(kIptablesResults, iptables_flags);
    report_msg(kLogLevel, "* OPTIONAL TESTS  *\n");
    report_msg(kLogLevel,
               "* Acclerator tests need to have some traffic to pass through router  *\n");
    report_results(kAcceleratorResults, accelerator_flags);

    if (saved.out >= 0 || saved.err >= 0) restore_standard_streams(&saved);
    return result;
}
