#include "lifecycle/services.h"

const char *const kAgentServices[kAgentServiceCount + 1] = {
    "apid",      "configd", "dnsmasq",     "ipaddr_manager", "iplistd", "ipsetd",
    "pingpongd", "rclient", "timetracker", "webd",           nullptr,
};
