// Typed, cached access to the configuration and the numbered path slots
// through which every file of the agent is named.
#ifndef NIMBRA_NIMBRAFILES_H
#define NIMBRA_NIMBRAFILES_H

#include <stdint.h>

// Path slots: each number names one composed path for the life of the
// process. Numbers not listed are reserved or free.
enum nimbra_slot : unsigned {
    SLOT_SHARES = 0,               // base + "/shares/"
    SLOT_ROOT = 1,                 // base + "/shares/usr/bin/"
    SLOT_LIB = 2,                  // base + "/shares/usr/lib/"
    SLOT_TRACKING = 3,             // ram + "/tracking/"
    SLOT_SCRIPTS = 4,              // root + "/scripts/"
    SLOT_LOCALIZATION = 5,         // ram + "/localization/"
    SLOT_CATEGORY_DATA = 6,        // ram + "/category_data/"
    SLOT_STATUS_DIR = 7,           // ram + "/status/"
    SLOT_RUNNING = 8,              // status + "/nimbra_running"
    SLOT_STARTING = 9,             // status + "/nimbra_starting"
    SLOT_RESETTING = 10,           // ram + "/nimbra_resetting"
    SLOT_RCLIENT_CONNECTED = 11,   // status + "/rclient_connected"
    SLOT_RCLIENT_LAST_PING = 12,   // status + "/rclient_last_ping"
    SLOT_CONFIGD_LAST_AUTH = 13,   // status + "/configd_last_auth"
    SLOT_CONFIGD_LAST_LOGS = 14,   // status + "/configd_last_logs"
    SLOT_CONFIGD_LAST_SETTINGS = 15,  // status + "/configd_last_settings"
    SLOT_AGENT_VERSION = 23,       // shares + "/VERSION"
    SLOT_PLATFORMS_VERSION = 36,   // data + "/platforms.ver"
    SLOT_PROVISIONING_LOCK = 69,   // ram + "/provisioning.lock"
    SLOT_CLOUD_TOKEN = 70,         // data + "/cloudtoken"
    SLOT_REFRESH_TOKEN = 71,       // data + "/refreshtoken"
    SLOT_CLOUD_HOST = 72,          // data + "/cloudhost"
    SLOT_APP_TOKEN = 74,           // data + "/apptoken"
    SLOT_DEVICE_ID = 75,           // data + "/nimbraid"
    SLOT_CERTFILE = 82,            // root + "/trusted-US-cas.pem"
    SLOT_DB_VERSION = 89,          // db + "/DATABASE_VERSION"
    SLOT_DB_VERSION_FALLBACK = 91, // root + "/db/DATABASE_VERSION"
    SLOT_APID_CERT = 95,           // data + "/apid.pem"
    SLOT_WEBD_CERT = 96,           // data + "/webd.pem"
};

constexpr unsigned kPathSlotCount = 123;

// Joins directory and suffix into slot (first call fixes the text) and
// returns the cached path, never freed. Invalid parameters print a message
// and give "".
const char *get_nimbra_path(unsigned slot, const char *directory, const char *suffix);

// The path of a named slot, composed from its fixed directory and suffix.
const char *nimbra_file(nimbra_slot slot);

// Directory settings (nimbra_path.*): cached copies, nullptr when absent.
const char *get_nimbra_base_path();
const char *get_nimbra_data_path();
const char *get_nimbra_ramdisk_path();
const char *get_nimbra_db_path();
const char *get_nimbra_log_path();

// nimbra_log.max_log_size; the address of the cached value (0: not set).
long *get_nimbra_max_log_size();
// security.certfile, else root + "/trusted-US-cas.pem"; never nullptr.
const char *get_nimbra_certfile();

// network.ifnames, else network.bridge_ifname: a null-terminated list of at
// most 7 names (first is the bridge), or nullptr when both are absent.
char **get_nimbra_ifnames();
// The key that supplied get_nimbra_ifnames(), for messages.
const char *get_nimbra_ifnames_key();

struct hwa_flow_config {
    uint16_t raise_supported;
    uint16_t flush_interval;
};
// hwa_flow.raise_supported and .flush_interval, or nullptr if either is absent.
hwa_flow_config *get_hwa_flow_config();

// Offsets from nimbra_ports.base_port of the agent's ports.
enum nimbra_port_index : unsigned {
    PORT_FILTERD = 0,
    PORT_TIMETRACKER_DNS = 1,  // also where port-80 web traffic is redirected
    PORT_WEB_HTTPS = 2,        // where port-443 web traffic is redirected
    PORT_IPADDR_MANAGER = 3,
    PORT_DNSMASQ_SAVEDQ = 5,
};

// nimbra_ports.base_port (default 4600) + index, modulo 65536.
uint16_t get_nimbra_port(unsigned index);
// nimbra_ports.dnsmasq_port, default 5300.
uint16_t get_dnsmasq_port();
// nimbra_ports.router_dnsmasq_port, default 53.
uint16_t get_router_dnsmasq_port();

// iptables.chains_handled_by_router and iptables.use_tproxy_ipv6 (0 when absent).
int get_chains_handled_by_router();
int get_use_tproxy_ipv6();

// Forgets every cached setting and path. The program never needs it; tests
// do, to load another configuration in the same process.
void reset_nimbra_config_cache();

#endif
