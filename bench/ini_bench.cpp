// The INI store on a 4 KB configuration, against the floor of reading the
// same file; bench/ini.sh prints the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "libraries/nimbracfg/tkvs.h"

namespace {

constexpr size_t kConfigBytes = 4096;

// A vendor's sections, then the agent's: a look-up walks the whole file.
const char *config_path() {
    static std::string path;
    if (!path.empty()) return path.c_str();
    const std::string agent =
        "[nimbra_path]\nbase = /usr/share/nimbra\nramdisk = /tmp/nimbra\ndata = /overlay/nimbra/data\n"
        "db = /overlay/nimbra/db\nlog = /tmp/nimbra/log\n[network]\nifnames = br-lan, br-guest\n"
        "[nimbra_ports]\nbase_port = 4600\ndnsmasq_port = 5300\nrouter_dnsmasq_port = 53\n"
        "[nimbra_log]\nmax_log_size = 1048576 ; bytes\n";
    std::string text;
    for (int n = 0; text.size() + agent.size() < kConfigBytes; ++n)
        text += (n % 6 ? "" : "[vendor_" + std::to_string(n) + "]\n") + "option_" + std::to_string(n) + " = \"value\"\n";
    text += agent;
    char name[] = "/tmp/nimbra-bench-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
    close(fd);
    path = name;
    atexit([] { unlink(path.c_str()); });
    return path.c_str();
}

void read_file_only(benchmark::State &state) {
    char buffer[kConfigBytes * 2];
    for (auto _ : state) {
        const int fd = open(config_path(), O_RDONLY);
        benchmark::DoNotOptimize(read(fd, buffer, sizeof(buffer)));
        close(fd);
    }
}

void load(benchmark::State &state) {
    for (auto _ : state) tkvs_free_image(tkvs_load_file(config_path()));
}

// The file's last key.
void lookup(benchmark::State &state) {
    ini_image *image = tkvs_load_file(config_path());
    for (auto _ : state) benchmark::DoNotOptimize(tkvs_find(image, "nimbra_log", "max_log_size"));
    tkvs_free_image(image);
}

// What every command does: nine accessors, each loading the file for its key.
void nine_accessors(benchmark::State &state) {
    const char *const keys[] = {"nimbra_path.base",  "nimbra_path.ramdisk", "nimbra_path.data",
                                "nimbra_path.db",    "nimbra_path.log",     "network.ifnames",
                                "nimbra_ports.base_port", "nimbra_ports.dnsmasq_port",
                                "nimbra_ports.router_dnsmasq_port"};
    for (auto _ : state) {
        for (const char *key : keys) {
            tkvs_handle *handle = tkvs_init(config_path());
            free(tkvs_get_config(handle, key));
            tkvs_release(handle);
        }
    }
}

}  // namespace

BENCHMARK(read_file_only);
BENCHMARK(load);
BENCHMARK(lookup);
BENCHMARK(nine_accessors);
BENCHMARK_MAIN();
