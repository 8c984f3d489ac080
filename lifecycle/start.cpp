#include "lifecycle/start.h"

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "firewall/packet_filter.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "lifecycle/interfaces.h"
#include "lifecycle/markers.h"
#include "lifecycle/services.h"
#include "util/files.h"
#include "util/process.h"
#include "util/signals.h"

namespace {

const char kSysClassNet[] = "/sys/class/net";

// Base ports from 1024 to 65408 leave room for the agent's port offsets.
constexpr uint16_t kMinBasePort = 1024;
constexpr uint16_t kBasePortSpan = 64384;

// svlogd keeps this many files per service. The log budget is cut into one
// share more than there are services (the established division, which
// leaves room for svlogd's current files).
constexpr int kLogFiles = 10;
constexpr uint32_t kLogShares = kAgentServiceCount + 1;

const char *const kRunitApplets[] = {"runsvdir", "runsv", "sv", "svlogd"};

// Listed at the end of a start; NIMBRA_PORT_IPADDR_MANAGER is exported but
// not listed.
const char *const kListedVariables[] = {
    "PATH",
    "LD_LIBRARY_PATH",
    "NIMBRA_ROOT",
    "NIMBRA_BASE",
    "NIMBRA_TMP",
    "NIMBRA_DATA",
    "NIMBRA_DB_PATH",
    "NIMBRA_LOG",
    "NIMBRA_BRIDGE",
    "NIMBRA_DNSMASQ_PORT",
    "NIMBRA_ROUTER_DNSMASQ_PORT",
    "NIMBRA_PORT_FILTERD",
    "NIMBRA_PORT_TIMETRACKER_DNS",
    "NIMBRA_PORT_DNSMASQ_SAVEDQ",
};

const char *text(const char *value) { return value ? value : ""; }

int validation_failed() {
    fputs("Failed to start Nimbra: error validating vendor values\n", stderr);
    return -1;
}

// A directory that may be created here; false when it still is none.
bool ensure_directory(const char *path) {
    if (!file_exists(path) && *text(path)) run_shellf("mkdir -p %s", path);
    return is_directory(path);
}

bool interfaces_present() {
    char **ifnames = get_nimbra_ifnames();
    bool check_sysfs = is_directory(kSysClassNet);
    for (char **name = ifnames; name && *name; ++name) {
        char path[64];
        snprintf(path, sizeof(path), "%s/%s", kSysClassNet, *name);
        if (!**name || (check_sysfs && !file_exists(path))) {
            fprintf(stderr, "Can't find network interface: %s\n", *name);
            return false;
        }
    }
    return true;
}

int validate() {
    const char *root = nimbra_file(SLOT_ROOT);
    if (!is_directory(root)) {
        fprintf(stderr, "Can't find Nimbra root directory: %s\n", root);
        return validation_failed();
    }
    if (!ensure_directory(get_nimbra_data_path())) {
        fprintf(stderr, "Can't find Nimbra data directory: %s\n", text(get_nimbra_data_path()));
        return validation_failed();
    }
    if (!ensure_directory(get_nimbra_ramdisk_path())) {
        fprintf(stderr, "Can't find Nimbra ram directory: %s\n", text(get_nimbra_ramdisk_path()));
        return validation_failed();
    }
    if (!interfaces_present()) return validation_failed();
    if (!get_hwa_flow_config()) {
        fputs("Can't find accelerator flow config\n", stderr);
        return validation_failed();
    }
    uint16_t base_port = get_nimbra_port(PORT_FILTERD);
    if (static_cast<uint16_t>(base_port - kMinBasePort) > kBasePortSpan) {
        fprintf(stderr, "Invalid base port: %u\n", static_cast<unsigned>(base_port));
        return validation_failed();
    }
    return 0;
}

void make_runtime_directories() {
    run_shellf("mkdir -p %s", nimbra_file(SLOT_TRACKING));
    run_shellf("mkdir -p %s", nimbra_file(SLOT_CATEGORY_DATA));
    run_shellf("mkdir -p %s/en", nimbra_file(SLOT_LOCALIZATION));
    run_shellf("mkdir -p %s", status_dir_path());
}

enum class claim { taken, busy, failed };

// Takes the starting marker unless another run holds either marker. The
// marker is created exclusively and the running marker looked at again
// afterwards, so of several starts launched together exactly one goes on.
// A marker that cannot be made (read-only or full ram directory) stops the
// start: without it nothing keeps a second start out.
claim take_starting_marker() {
    const char *running = running_marker_path();
    const char *starting = starting_marker_path();
    if (file_exists(running) || file_exists(starting)) return claim::busy;
    make_runtime_directories();
    const int claimed = claim_marker(starting);
    if (claimed == 1) return claim::busy;
    if (claimed < 0) {
        fprintf(stderr, "Can't create %s: %s\n", starting, strerror(errno));
        return claim::failed;
    }
    if (file_exists(running)) {
        unlink(starting);
        return claim::busy;
    }
    return claim::taken;
}

bool tproxy_ports_valid() {
    if (!get_use_tproxy_ipv6()) return true;
    uint16_t dnsmasq = get_dnsmasq_port();
    return dnsmasq == 53 && get_router_dnsmasq_port() != dnsmasq;
}

void set_up_service_logging(const char *root) {
    long max_log_size = *get_nimbra_max_log_size();
    if (max_log_size == 0) {
        fputs("Nimbra-Agent service logging is disabled\n", stderr);
        return;
    }
    const uint32_t file_size = static_cast<uint32_t>(max_log_size) / kLogShares / kLogFiles;
    const char *log = text(get_nimbra_log_path());
    for (const char *const *service = kAgentServices; *service; ++service) {
        const char *name = *service;
        run_shellf("mkdir -p %s/%s/", log, name);
        run_shellf("mkdir -p /var/service/%s/log/", name);
        run_shellf("echo -e \"#!/bin/sh\nexec %s/svlogd -tt %s/%s\" > /var/service/%s/log/run", root,
                   log, name, name);
        run_shellf("chmod +x /var/service/%s/log/run", name);
        run_shellf("echo -e \"n%d\ns%d\" > %s/%s/config", kLogFiles, static_cast<int>(file_size), log,
                   name);
    }
}

void set_up_service_tree(const char *root) {
    puts("Creating symlinks ...");
    for (const char *applet : kRunitApplets) run_shellf("ln -sf %s/busybox %s/%s", root, root, applet);
    puts("Setting up Nimbra services ...");
    run_shellf("cp -a %s/service /var/", root);
    set_up_service_logging(root);
}

// An empty certificate is what a power cut or a kill during its writing
// leaves: made again, as a missing one.
void make_certificates(const char *root) {
    if (!file_has_data(nimbra_file(SLOT_APID_CERT))) run_shellf("%s/apid --makecert", root);
    if (!file_has_data(nimbra_file(SLOT_WEBD_CERT))) run_shellf("%s/webd --makecert", root);
}

void launch(const char *root) {
    sleep_fully(1);
    puts("Starting Nimbra services ...");
    // runsvdir's own output is discarded: a broken install (no busybox
    // behind the link) would otherwise leave no trace.
    char runsvdir[PATH_MAX];
    snprintf(runsvdir, sizeof(runsvdir), "%s/runsvdir", root);
    if (access(runsvdir, X_OK) != 0) fprintf(stderr, "Can't run %s: %s\n", runsvdir, strerror(errno));
    run_shellf("%s/runsvdir /var/service >/dev/null 2>/dev/null &", root);
    ensure_multicast_route();
    puts("Check for main db download ...");
    run_shellf("%s/check_nimbradb.sh &", nimbra_file(SLOT_SCRIPTS));
}

// The sequence after the starting marker was taken.
int start_claimed() {
    const char *starting = starting_marker_path();
    if (!tproxy_ports_valid()) {
        puts("Invalid configuration : IPv6 TPROXY works only with dnsmasq port 53 and the router "
             "dnsmasq port should be different from 53.");
        unlink(starting);
        return -1;
    }
    const char *root = nimbra_file(SLOT_ROOT);
    set_up_service_tree(root);
    if (init_interfaces() < 0) {
        fputs("Failed to start Nimbra: error initializing interfaces\n", stderr);
        unlink(starting);
        return -1;
    }
    puts("Setting up iptables ...");
    install_packet_filter();
    make_certificates(root);
    launch(root);

    puts("Nimbra successfully started.");
    touch_file(running_marker_path());
    unlink(starting);
    puts("Environment initialized.");
    for (const char *name : kListedVariables) print_env_var(name);
    return 0;
}

}  // namespace

int start_agent() {
    puts("Starting Nimbra ...");
    puts("Validating vendor library paths ...");
    if (validate() < 0) return -1;
    const claim claimed = take_starting_marker();
    if (claimed == claim::failed) return -1;
    if (claimed == claim::busy) {
        fputs("Nimbra already running or starting\n", stderr);
        return 0;
    }
    // A start that a signal ends has failed: its marker goes, as on any
    // other failure, so that nothing waits for a start that is over.
    remove_on_fatal_signal(starting_marker_path());
    const int result = start_claimed();
    forget_on_fatal_signal();
    return result;
}
