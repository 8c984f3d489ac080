#include "report/status.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "lifecycle/markers.h"
#include "util/files.h"
#include "util/json.h"
#include "util/lock_file.h"
#include "util/process.h"

namespace {

const char kDashLine[] = "-------------------------------------------------";

constexpr int kJsonCapacity = 1024;
constexpr size_t kStatusFileBuffer = 512;
constexpr size_t kCommandBuffer = 128;

constexpr int kProvisioned = 1;
constexpr int kNotProvisioned = 0;
constexpr int kNoUsableToken = -1;

// Shortest contents that count as a provisioning record.
constexpr size_t kDeviceIdBuffer = 64;
constexpr int kMinDeviceIdBytes = 10;
constexpr size_t kCloudHostBuffer = 128;
constexpr size_t kMinCloudHostChars = 8;
constexpr size_t kTokenBuffer = 4097;
constexpr int kMinTokenBytes = 10;

// A result word counts as success on these first characters.
const char kSuccessWord[] = "success";

// The configd records: same content, same handling, their own line.
struct configd_record {
    nimbra_slot slot;
    const char *label;  // the line's text before ": "
};

const configd_record kConfigdRecords[] = {
    {SLOT_CONFIGD_LAST_AUTH, "configd:   last auth"},
    {SLOT_CONFIGD_LAST_SETTINGS, "           last settings (down)"},
    {SLOT_CONFIGD_LAST_LOGS, "           last logs (up)"},
};

const char *true_false(bool value) { return value ? "true" : "false"; }

// The age in seconds of a recorded time: now minus the number when it is
// above 0, else the number itself.
long record_age(const char *number) {
    // Read as wide as time_t: a 32-bit long would saturate every time after
    // January 2038. Out of range, strtoll saturates; the saturated value is
    // still a time far in the past or future and is handled as one below.
    const long long recorded = strtoll(number, nullptr, 10);
    // A difference of two non-negative numbers cannot overflow; long may be
    // 32 bits, so whatever a daemon wrote is clamped rather than wrapped.
    const long long age = recorded <= 0 ? recorded : static_cast<long long>(time(nullptr)) - recorded;
    if (age > LONG_MAX) return LONG_MAX;
    if (age < LONG_MIN) return LONG_MIN;
    return static_cast<long>(age);
}

// The rclient ping age, or -1 when there is no recorded ping.
long ping_age() {
    char text[kStatusFileBuffer] = {};
    const char *path = nimbra_file(SLOT_RCLIENT_LAST_PING);
    // A file that exists but cannot be opened leaves text empty.
    if (file_exists(path)) read_file(path, text, sizeof(text));
    return text[0] ? record_age(text) : -1;
}

void print_configd_record(const configd_record &record) {
    char text[kStatusFileBuffer] = {};
    if (read_file(nimbra_file(record.slot), text, sizeof(text)) <= 0) {
        printf("%s: none\n", record.label);
        return;
    }
    const char *word = strncmp(text, kSuccessWord, strlen(kSuccessWord)) == 0 ? "success" : "fail";
    const char *colon = strchr(text, ':');
    printf("%s: %s, %lds\n", record.label, word, colon ? record_age(colon + 1) : -1L);
}

int read_provisioning_state() {
    if (!file_exists(nimbra_file(SLOT_APP_TOKEN)) || !file_exists(nimbra_file(SLOT_CLOUD_HOST)) ||
        !file_exists(nimbra_file(SLOT_DEVICE_ID)))
        return kNotProvisioned;

    char device_id[kDeviceIdBuffer] = {};
    if (read_file(nimbra_file(SLOT_DEVICE_ID), device_id, sizeof(device_id)) < kMinDeviceIdBytes)
        return kNotProvisioned;

    char cloud_host[kCloudHostBuffer] = {};
    read_file(nimbra_file(SLOT_CLOUD_HOST), cloud_host, sizeof(cloud_host));
    if (strlen(cloud_host) < kMinCloudHostChars) return kNotProvisioned;

    // Either token lets the agent reach the cloud; the refresh token is
    // only looked at when the access token is unusable.
    char token[kTokenBuffer] = {};
    if (read_file(nimbra_file(SLOT_CLOUD_TOKEN), token, sizeof(token)) >= kMinTokenBytes)
        return kProvisioned;
    if (read_file(nimbra_file(SLOT_REFRESH_TOKEN), token, sizeof(token)) >= kMinTokenBytes)
        return kProvisioned;
    return kNoUsableToken;
}

void print_processes() {
    puts("Nimbra Processes:");
    char command[kCommandBuffer];
    int length = snprintf(command, sizeof(command), "%s/sv status /var/service/*", nimbra_file(SLOT_ROOT));
    // A cut command line would run something else; show no process lines.
    if (length >= 0 && static_cast<size_t>(length) < sizeof(command)) print_command_output(command, nullptr);
    puts(kDashLine);
}

}  // namespace

void print_status(int json) {
    const bool running = file_exists(running_marker_path());
    const bool provisioned = get_provisioning_state() == kProvisioned;

    if (json) {
        char buffer[kJsonCapacity] = "";
        json_add_string("nimbra-running", true_false(running), buffer, sizeof(buffer));
        json_add_string("nimbra-provisioned", true_false(provisioned), buffer, sizeof(buffer));
        print_cloud_status(1, buffer, sizeof(buffer));
        puts(buffer);
        return;
    }

    puts(kDashLine);
    printf("Nimbra Running: %s\n", true_false(running));
    if (running) {
        char **names = get_nimbra_ifnames();
        for (; names && *names; ++names) printf("    Nimbra running on interface %s\n", *names);
    }
    printf("Nimbra Provisioned: %s\n", true_false(provisioned));
    puts(kDashLine);
    if (running) print_processes();
    puts("Nimbra Cloud Connectivity:");
    print_cloud_status(0, nullptr, 0);
    puts(kDashLine);
}

void print_cloud_status(int json, char *buffer, int capacity) {
    const char *link = file_exists(nimbra_file(SLOT_RCLIENT_CONNECTED)) ? "connected" : "disconnected";
    if (json) {
        json_add_string("rclient", link, buffer, capacity);
        return;
    }
    printf("rclient:   %s\n", link);
    const long age = ping_age();
    if (age >= 1)
        printf("           last ping: %lds\n", age);
    else
        puts("           last ping: none");
    for (const configd_record &record : kConfigdRecords) print_configd_record(record);
}

int get_provisioning_state() {
    const char *lock_path = nimbra_file(SLOT_PROVISIONING_LOCK);
    const int lock = lock_file_open(lock_path);
    const int state = read_provisioning_state();
    lock_file_close(lock);
    // The next check creates the file afresh.
    remove(lock_path);
    return state;
}
