// The status, provisioning and version readers on files written by the
// input. The input is cut at each "\n%%\n" into the contents of the files in
// kFiles order; a part that is exactly "-" (or missing) leaves the file
// absent, exactly "/" makes it a directory. The last part is what the
// supervision listing prints ("-": the listing cannot be started).
// No process is ever started: the process runner answers from the input and
// aborts on any command other than the listing.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "report/status.h"
#include "report/version.h"
#include "util/json.h"
#include "util/process.h"

namespace {

const char kSeparator[] = "\n%%\n";
const char kAbsent[] = "-";
const char kDirectory[] = "/";

// Every file the readers look at, in input order.
const nimbra_slot kFiles[] = {
    SLOT_RUNNING,          SLOT_RCLIENT_CONNECTED,     SLOT_RCLIENT_LAST_PING, SLOT_CONFIGD_LAST_AUTH,
    SLOT_CONFIGD_LAST_SETTINGS, SLOT_CONFIGD_LAST_LOGS, SLOT_APP_TOKEN,        SLOT_CLOUD_HOST,
    SLOT_DEVICE_ID,        SLOT_CLOUD_TOKEN,           SLOT_REFRESH_TOKEN,     SLOT_AGENT_VERSION,
    SLOT_DB_VERSION,       SLOT_DB_VERSION_FALLBACK,   SLOT_PLATFORMS_VERSION, SLOT_PROVISIONING_LOCK,
};
constexpr size_t kFileCount = sizeof(kFiles) / sizeof(kFiles[0]);

std::string g_on_disk[kFileCount];  // what each file holds now, in part form
std::string g_listing_command;
std::string g_listing;             // the current input's listing part
char *g_stdout_text;
size_t g_stdout_size;

int refuse_run(const char *command) {
    dprintf(2, "unexpected command: %s\n", command);
    fuzz_require(false, "the readers run no command");
    return -1;
}

FILE *canned_open(const char *command) {
    fuzz_require(g_listing_command == command, "the readers start only the supervision listing");
    if (g_listing == kAbsent) return nullptr;
    return fmemopen(&g_listing[0], g_listing.size(), "r");
}

const process_runner kCannedRunner = {refuse_run, canned_open, fclose};

void make_dirs(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

void put_file(size_t index, const std::string &part) {
    if (g_on_disk[index] == part) return;
    const std::string path = nimbra_file(kFiles[index]);
    remove(path.c_str());
    if (part == kDirectory)
        fuzz_require(mkdir(path.c_str(), 0755) == 0, "directory made");
    else if (part != kAbsent)
        write_bytes(path, part);
    g_on_disk[index] = part;
}

// stdout since offset, as text.
std::string printed_since(long offset) {
    fflush(stdout);
    return std::string(g_stdout_text + offset, g_stdout_size - static_cast<size_t>(offset));
}

bool starts_with(const std::string &text, const char *prefix) { return text.compare(0, strlen(prefix), prefix) == 0; }

void check_json_line(const std::string &line) {
    fuzz_require(line.size() >= 3 && line[0] == '{' && line.compare(line.size() - 2, 2, "}\n") == 0,
                 "a JSON report is one closed object on one line");
    fuzz_require(line.find('\n') == line.size() - 1, "a JSON report has no line break inside");
    fuzz_require(json_find_close(line.c_str()) == line.c_str() + line.size() - 2,
                 "the JSON object closes at its last brace");
}

void check_status_json(const std::string &line) {
    check_json_line(line);
    const std::string running = g_on_disk[0] == kAbsent ? "false" : "true";
    const std::string link = g_on_disk[1] == kAbsent ? "disconnected" : "connected";
    const std::string head = "{\"nimbra-running\":\"" + running + "\",\"nimbra-provisioned\":\"";
    const std::string tail = "\",\"rclient\":\"" + link + "\"}\n";
    fuzz_require(starts_with(line, head.c_str()), "status -j starts with the running member");
    const std::string provisioned = line.substr(head.size(), line.size() - head.size());
    fuzz_require(provisioned == "true" + tail || provisioned == "false" + tail,
                 "status -j has exactly its three members");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    silence_program_stderr();
    const std::string &dir = fuzz_scratch_dir();
    const std::string config = dir + "/nimbra.ini";
    write_bytes(config, "[nimbra_path]\nbase=" + dir + "/base\nramdisk=" + dir + "/ram\ndata=" + dir +
                            "/data\ndb=" + dir + "/db\nlog=" + dir + "/log\n[network]\nifnames=br0 eth1\n");
    // The reference vendor library takes the configuration path from here.
    setenv("NIMBRA_CONFIG", config.c_str(), 1);
    reset_nimbra_config_cache();
    for (nimbra_slot slot : kFiles) make_dirs(nimbra_file(slot));
    for (std::string &state : g_on_disk) state = kAbsent;
    g_listing_command = std::string(nimbra_file(SLOT_ROOT)) + "/sv status /var/service/*";
    set_process_runner(&kCannedRunner);
    stdout = open_memstream(&g_stdout_text, &g_stdout_size);
    fuzz_require(stdout != nullptr, "stdout captured");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<std::string> parts = split_input(data, size, kSeparator);
    for (size_t i = 0; i < kFileCount; ++i) put_file(i, i < parts.size() ? parts[i] : kAbsent);
    g_listing = parts.size() > kFileCount ? parts[kFileCount] : kAbsent;

    rewind(stdout);
    print_status(0);
    long offset = ftell(stdout);
    print_status(1);
    check_status_json(printed_since(offset));

    const int state = get_provisioning_state();
    fuzz_require(state >= -1 && state <= 1, "provisioning state is -1, 0 or 1");

    print_version(0);
    offset = ftell(stdout);
    print_version(1);
    const std::string line = printed_since(offset);
    check_json_line(line);
    fuzz_require(starts_with(line, "{\"agent-version\":\"") && line.find("\",\"db-version\":\"") != std::string::npos &&
                     line.find("\",\"platformdb-version\":\"") != std::string::npos,
                 "version -j has its three members");

    // Every provisioning check removes its lock file.
    struct stat st;
    fuzz_require(stat(nimbra_file(SLOT_PROVISIONING_LOCK), &st) != 0, "no provisioning lock is left behind");
    g_on_disk[kFileCount - 1] = kAbsent;
    return 0;
}
