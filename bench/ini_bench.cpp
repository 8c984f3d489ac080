// The INI store on a 4 KB configuration, against the floor of reading the
// same file into a buffer. bench/ini.sh runs it and prints the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "libraries/nimbracfg/tkvs.h"

namespace {

constexpr size_t kConfigBytes = 4096;

// The keys every command reads, as the accessors ask for them.
const char *const kAccessorKeys[] = {
    "nimbra_path.base",         "nimbra_path.ramdisk",      "nimbra_path.data",
    "nimbra_path.db",           "nimbra_path.log",          "network.ifnames",
    "nimbra_ports.base_port",   "nimbra_ports.dnsmasq_port", "nimbra_ports.router_dnsmasq_port",
};

// A router's configuration padded with the sections a vendor adds of its
// own to kConfigBytes; the agent's sections come last, so that every
// look-up walks the whole image.
std::string make_config() {
    const std::string agent =
        "[nimbra_path]\nbase = /usr/share/nimbra\nramdisk = /tmp/nimbra\n"
        "data = /overlay/nimbra/data\ndb = /overlay/nimbra/db\nlog = /tmp/nimbra/log\n"
        "[network]\nifnames = br-lan, br-guest\n"
        "[nimbra_ports]\nbase_port = 4600\ndnsmasq_port = 5300\nrouter_dnsmasq_port = 53\n"
        "[iptables]\nchains_handled_by_router = 0\nuse_tproxy_ipv6 = 0\n"
        "[nimbra_log]\nmax_log_size = 1048576 ; bytes\n";
    std::string text = "; router configuration\n";
    for (int section = 0; text.size() + agent.size() < kConfigBytes; ++section) {
        text += "[vendor_" + std::to_string(section) + "]\n";
        for (int key = 0; key < 6 && text.size() + agent.size() < kConfigBytes; ++key)
            text += "option_" + std::to_string(key) + " = \"value " + std::to_string(section * key) + "\"\n";
    }
    return text + agent;
}

// The configuration, written once to a temporary file for the process.
const char *config_path() {
    static std::string path;
    if (path.empty()) {
        char name[] = "/tmp/nimbra-bench-XXXXXX";
        const int fd = mkstemp(name);
        const std::string text = make_config();
        if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
        close(fd);
        path = name;
        atexit([] { unlink(path.c_str()); });
    }
    return path.c_str();
}

// The floor: open, read and close the file.
void read_file_only(benchmark::State &state) {
    char buffer[kConfigBytes * 2];
    for (auto _ : state) {
        const int fd = open(config_path(), O_RDONLY);
        benchmark::DoNotOptimize(read(fd, buffer, sizeof(buffer)));
        close(fd);
    }
}
BENCHMARK(read_file_only);

// Load and split the file, then free it.
void load(benchmark::State &state) {
    for (auto _ : state) tkvs_free_image(tkvs_load_file(config_path()));
}
BENCHMARK(load);

// What an accessor does on first use: open the store, one look-up, release.
void load_and_get(benchmark::State &state) {
    for (auto _ : state) {
        tkvs_handle *handle = tkvs_init(config_path());
        free(tkvs_get_config(handle, "network.ifnames"));
        tkvs_release(handle);
    }
}
BENCHMARK(load_and_get);

// One look-up in a loaded image (the key is near the end of the file).
void lookup(benchmark::State &state) {
    ini_image *image = tkvs_load_file(config_path());
    for (auto _ : state) benchmark::DoNotOptimize(tkvs_find(image, "nimbra_log", "max_log_size"));
    tkvs_free_image(image);
}
BENCHMARK(lookup);

// A look-up of a key the file does not have: the whole image is walked.
void lookup_missing(benchmark::State &state) {
    ini_image *image = tkvs_load_file(config_path());
    for (auto _ : state) benchmark::DoNotOptimize(tkvs_find(image, "nimbra_ports", "absent"));
    tkvs_free_image(image);
}
BENCHMARK(lookup_missing);

// The environment export's pattern: every accessor loads the file itself.
void accessors_each_load(benchmark::State &state) {
    for (auto _ : state) {
        for (const char *key : kAccessorKeys) {
            tkvs_handle *handle = tkvs_init(config_path());
            free(tkvs_get_config(handle, key));
            tkvs_release(handle);
        }
    }
}
BENCHMARK(accessors_each_load);

// The same keys from one loaded file.
void accessors_one_load(benchmark::State &state) {
    for (auto _ : state) {
        tkvs_handle *handle = tkvs_init(config_path());
        for (const char *key : kAccessorKeys) free(tkvs_get_config(handle, key));
        tkvs_release(handle);
    }
}
BENCHMARK(accessors_one_load);

}  // namespace

BENCHMARK_MAIN();
