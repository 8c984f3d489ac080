#include "libraries/nimbracfg/nimbrafiles.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "libraries/nimbracfg/tkvs.h"
#include "nimbra_vendor.h"

namespace {

// ---- path slots ----

constexpr size_t kPathBufferSize = 1024;
constexpr int kInvalidParametersLine = 138;

pthread_mutex_t g_path_mutex = PTHREAD_MUTEX_INITIALIZER;
char *g_paths[kPathSlotCount];

// Where a named slot's directory comes from.
enum class slot_base { base, ramdisk, data, db, shares, root, status };

struct slot_entry {
    nimbra_slot slot;
    slot_base base;
    const char *suffix;
};

const slot_entry kSlots[] = {
    {SLOT_SHARES, slot_base::base, "/shares/"},
    {SLOT_ROOT, slot_base::base, "/shares/usr/bin/"},
    {SLOT_LIB, slot_base::base, "/shares/usr/lib/"},
    {SLOT_TRACKING, slot_base::ramdisk, "/tracking/"},
    {SLOT_SCRIPTS, slot_base::root, "/scripts/"},
    {SLOT_LOCALIZATION, slot_base::ramdisk, "/localization/"},
    {SLOT_CATEGORY_DATA, slot_base::ramdisk, "/category_data/"},
    {SLOT_STATUS_DIR, slot_base::ramdisk, "/status/"},
    {SLOT_RUNNING, slot_base::status, "/nimbra_running"},
    {SLOT_STARTING, slot_base::status, "/nimbra_starting"},
    {SLOT_RESETTING, slot_base::ramdisk, "/nimbra_resetting"},
    {SLOT_RCLIENT_CONNECTED, slot_base::status, "/rclient_connected"},
    {SLOT_RCLIENT_LAST_PING, slot_base::status, "/rclient_last_ping"},
    {SLOT_CONFIGD_LAST_AUTH, slot_base::status, "/configd_last_auth"},
    {SLOT_CONFIGD_LAST_LOGS, slot_base::status, "/configd_last_logs"},
    {SLOT_CONFIGD_LAST_SETTINGS, slot_base::status, "/configd_last_settings"},
    {SLOT_AGENT_VERSION, slot_base::shares, "/VERSION"},
    {SLOT_PLATFORMS_VERSION, slot_base::data, "/platforms.ver"},
    {SLOT_PROVISIONING_LOCK, slot_base::ramdisk, "/provisioning.lock"},
    {SLOT_CLOUD_TOKEN, slot_base::data, "/cloudtoken"},
    {SLOT_REFRESH_TOKEN, slot_base::data, "/refreshtoken"},
    {SLOT_CLOUD_HOST, slot_base::data, "/cloudhost"},
    {SLOT_APP_TOKEN, slot_base::data, "/apptoken"},
    {SLOT_DEVICE_ID, slot_base::data, "/nimbraid"},
    {SLOT_CERTFILE, slot_base::root, "/trusted-US-cas.pem"},
    {SLOT_DB_VERSION, slot_base::db, "/DATABASE_VERSION"},
    {SLOT_DB_VERSION_FALLBACK, slot_base::root, "/db/DATABASE_VERSION"},
    {SLOT_APID_CERT, slot_base::data, "/apid.pem"},
    {SLOT_WEBD_CERT, slot_base::data, "/webd.pem"},
};

const char *slot_directory(slot_base base) {
    switch (base) {
    case slot_base::base: return get_nimbra_base_path();
    case slot_base::ramdisk: return get_nimbra_ramdisk_path();
    case slot_base::data: return get_nimbra_data_path();
    case slot_base::db: return get_nimbra_db_path();
    case slot_base::shares: return nimbra_file(SLOT_SHARES);
    case slot_base::root: return nimbra_file(SLOT_ROOT);
    case slot_base::status: return nimbra_file(SLOT_STATUS_DIR);
    }
    return nullptr;
}

// ---- settings ----

constexpr uint16_t kDefaultBasePort = 4600;
constexpr uint16_t kDefaultDnsmasqPort = 5300;
constexpr uint16_t kDefaultRouterDnsmasqPort = 53;

struct config_cache {
    char *base, *data, *ramdisk, *db, *log;
    char *certfile;
    char *chains_handled_by_router, *use_tproxy_ipv6;
    long max_log_size;
    char **ifnames;
    const char *ifnames_key;
    hwa_flow_config hwa;
    bool hwa_loaded;
    uint16_t base_port, dnsmasq_port, router_dnsmasq_port;
};

config_cache g_config;

// One look-up: the file is opened, split and released for each key.
char *load_setting(const char *key) {
    tkvs_handle *handle = tkvs_init(nimbra_get_config_path());
    if (!handle) return nullptr;
    char *value = tkvs_get_config(handle, key);
    tkvs_release(handle);
    return value;
}

char **load_list(const char *key) {
    tkvs_handle *handle = tkvs_init(nimbra_get_config_path());
    if (!handle) return nullptr;
    char **list = tkvs_get_multi_value(handle, key);
    tkvs_release(handle);
    return list;
}

const char *cached_string(char *&cache, const char *key) {
    if (!cache) cache = load_setting(key);
    return cache;
}

// A setting parsed with atol, or fallback when absent.
long load_long(const char *key, long fallback) {
    char *value = load_setting(key);
    if (!value) return fallback;
    long number = atol(value);
    free(value);
    return number;
}

// Ports keep their default once chosen; 0 after truncation means unset.
uint16_t cached_port(uint16_t &cache, const char *key, uint16_t fallback) {
    if (cache == 0) cache = static_cast<uint16_t>(load_long(key, 0));
    if (cache == 0) cache = fallback;
    return cache;
}

int cached_switch(char *&cache, const char *key) {
    const char *value = cached_string(cache, key);
    return value ? atoi(value) : 0;
}

}  // namespace

const char *get_nimbra_path(unsigned slot, const char *directory, const char *suffix) {
    if (slot >= kPathSlotCount || !directory || !suffix || !*directory || !*suffix) {
        fprintf(stderr, "%s - %s (%d): Invalid parameters\n", "nimbrafiles", "get_nimbra_path",
                kInvalidParametersLine);
        return "";
    }
    pthread_mutex_lock(&g_path_mutex);
    if (!g_paths[slot]) {
        char path[kPathBufferSize];
        snprintf(path, sizeof(path), "%s%s", directory, suffix);
        g_paths[slot] = strdup(path);
    }
    const char *result = g_paths[slot] ? g_paths[slot] : "";
    pthread_mutex_unlock(&g_path_mutex);
    return result;
}

const char *nimbra_file(nimbra_slot slot) {
    for (const slot_entry &entry : kSlots)
        if (entry.slot == slot) {
            pthread_mutex_lock(&g_path_mutex);
            const char *cached = g_paths[slot];
            pthread_mutex_unlock(&g_path_mutex);
            if (cached) return cached;
            return get_nimbra_path(slot, slot_directory(entry.base), entry.suffix);
        }
    return "";
}

const char *get_nimbra_base_path() { return cached_string(g_config.base, "nimbra_path.base"); }
const char *get_nimbra_data_path() { return cached_string(g_config.data, "nimbra_path.data"); }
const char *get_nimbra_ramdisk_path() {
    return cached_string(g_config.ramdisk, "nimbra_path.ramdisk");
}
const char *get_nimbra_db_path() { return cached_string(g_config.db, "nimbra_path.db"); }
const char *get_nimbra_log_path() { return cached_string(g_config.log, "nimbra_path.log"); }

long *get_nimbra_max_log_size() {
    if (g_config.max_log_size == 0) g_config.max_log_size = load_long("nimbra_log.max_log_size", 0);
    return &g_config.max_log_size;
}

const char *get_nimbra_certfile() {
    if (!g_config.certfile) g_config.certfile = load_setting("security.certfile");
    if (!g_config.certfile) g_config.certfile = strdup(nimbra_file(SLOT_CERTFILE));
    return g_config.certfile ? g_config.certfile : "";
}

char **get_nimbra_ifnames() {
    if (g_config.ifnames) return g_config.ifnames;
    g_config.ifnames_key = "network.ifnames";
    g_config.ifnames = load_list(g_config.ifnames_key);
    if (!g_config.ifnames) {
        g_config.ifnames_key = "network.bridge_ifname";
        g_config.ifnames = load_list(g_config.ifnames_key);
    }
    return g_config.ifnames;
}

const char *get_nimbra_ifnames_key() {
    return g_config.ifnames_key ? g_config.ifnames_key : "network.ifnames";
}

hwa_flow_config *get_hwa_flow_config() {
    if (g_config.hwa_loaded) return &g_config.hwa;
    char *raise = load_setting("hwa_flow.raise_supported");
    if (!raise) return nullptr;
    g_config.hwa.raise_supported = static_cast<uint16_t>(atol(raise));
    free(raise);
    char *flush = load_setting("hwa_flow.flush_interval");
    if (!flush) return nullptr;
    g_config.hwa.flush_interval = static_cast<uint16_t>(atol(flush));
    free(flush);
    g_config.hwa_loaded = true;
    return &g_config.hwa;
}

uint16_t get_nimbra_port(unsigned index) {
    return static_cast<uint16_t>(
        cached_port(g_config.base_port, "nimbra_ports.base_port", kDefaultBasePort) + index);
}

uint16_t get_dnsmasq_port() {
    return cached_port(g_config.dnsmasq_port, "nimbra_ports.dnsmasq_port", kDefaultDnsmasqPort);
}

uint16_t get_router_dnsmasq_port() {
    return cached_port(g_config.router_dnsmasq_port, "nimbra_ports.router_dnsmasq_port",
                       kDefaultRouterDnsmasqPort);
}

int get_chains_handled_by_router() {
    return cached_switch(g_config.chains_handled_by_router, "iptables.chains_handled_by_router");
}

int get_use_tproxy_ipv6() {
    return cached_switch(g_config.use_tproxy_ipv6, "iptables.use_tproxy_ipv6");
}

void reset_nimbra_config_cache() {
    char *const strings[] = {g_config.base,     g_config.data,     g_config.ramdisk,
                             g_config.db,       g_config.log,      g_config.certfile,
                             g_config.chains_handled_by_router, g_config.use_tproxy_ipv6};
    for (char *value : strings) free(value);
    tkvs_free_list(g_config.ifnames);
    g_config = config_cache{};
    pthread_mutex_lock(&g_path_mutex);
    for (char *&path : g_paths) {
        free(path);
        path = nullptr;
    }
    pthread_mutex_unlock(&g_path_mutex);
}
