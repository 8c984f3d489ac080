// The status, provisioning and version readers on files cut from the input
// at "\n%%\n", in kFiles order ("-" or missing: no file, "/": a directory);
// the last part is what the supervision listing prints. No provisioning lock
// is left behind.
#include <filesystem>
#include <iterator>

#include "fuzz/fuzz_support.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "report/status.h"
#include "report/version.h"

const nimbra_slot kFiles[] = {
    SLOT_RUNNING,       SLOT_RCLIENT_CONNECTED, SLOT_RCLIENT_LAST_PING, SLOT_CONFIGD_LAST_AUTH, SLOT_CONFIGD_LAST_SETTINGS,
    SLOT_CONFIGD_LAST_LOGS, SLOT_APP_TOKEN,     SLOT_CLOUD_HOST,        SLOT_DEVICE_ID,         SLOT_CLOUD_TOKEN,
    SLOT_REFRESH_TOKEN, SLOT_AGENT_VERSION,     SLOT_DB_VERSION, SLOT_DB_VERSION_FALLBACK, SLOT_PLATFORMS_VERSION,
    SLOT_PROVISIONING_LOCK};

void fuzz_one(const std::string &input) {
    std::vector<std::string> parts;
    for (size_t from = 0, at = 0; at != std::string::npos; from = at + 4)
        parts.push_back(input.substr(from, (at = input.find("\n%%\n", from)) - from));
    parts.resize(std::size(kFiles) + 1, "-");
    for (size_t i = 0; i < std::size(kFiles); ++i) {
        std::filesystem::remove(nimbra_file(kFiles[i]));
        if (parts[i] != "-") write_bytes(nimbra_file(kFiles[i]), parts[i]);
    }
    g_command_output = parts.back();
    for (int json : {0, 1}) print_status(json), print_version(json);
    fuzz_require(!std::filesystem::exists(nimbra_file(SLOT_PROVISIONING_LOCK)), "no provisioning lock is left");
}
