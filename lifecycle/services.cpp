#include "lifecycle/services.h"

const char *const kAgentServices[11] = {
    "apid",      "configd", "dnsmasq",     "ipaddr_manager", "iplistd", "ipsetd",
    "pingpongd", "rclient", "timetracker", "webd",           nullptr,
};
