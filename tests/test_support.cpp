#include "tests/test_support.h"

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "firewall/batch.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "util/process.h"

namespace {

process_recorder *g_recorder;

int recorded_run(const char *command) {
    test_events().push_back(std::string("system: ") + command);
    auto it = g_recorder->status.find(command);
    return it == g_recorder->status.end() ? 0 : it->second;
}

// Scripted output is served from a temporary file so that pclose-style
// closing is a plain fclose.
FILE *recorded_open(const char *command) {
    test_events().push_back(std::string("popen: ") + command);
    FILE *stream = tmpfile();
    auto it = g_recorder->output.find(command);
    if (it != g_recorder->output.end()) fputs(it->second.c_str(), stream);
    rewind(stream);
    return stream;
}

const process_runner kRecorder = {recorded_run, recorded_open, fclose};

// Every directory on the way to path's last "/", as mkdir -p would.
void make_parents(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path);
}

}  // namespace

std::vector<std::string> &test_events() {
    static std::vector<std::string> events;
    return events;
}

temp_dir::temp_dir() {
    char pattern[] = "/tmp/nimbra_test.XXXXXX";
    char *made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path = made ? made : "";
}

temp_dir::~temp_dir() {
    if (!path.empty()) nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_text(const std::string &path, const std::string &text) {
    make_parents(path);
    std::ofstream(path, std::ios::binary) << text;
}

void make_dirs(const std::string &base, std::initializer_list<const char *> dirs) {
    for (const char *dir : dirs) make_parents(base + "/" + dir + "/");
}

std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void use_config(const temp_dir &dir, const std::string &text) {
    fake_vendor().config_path = dir / "nimbra.ini";
    write_text(fake_vendor().config_path, text);
    reset_nimbra_config_cache();
}

process_recorder::process_recorder() {
    test_events().clear();
    g_recorder = this;
    set_process_runner(&kRecorder);
}

process_recorder::~process_recorder() {
    set_process_runner(nullptr);
    g_recorder = nullptr;
}

std::vector<std::string> events_with(const std::string &prefix) {
    std::vector<std::string> found;
    for (const std::string &event : test_events())
        if (event.compare(0, prefix.size(), prefix) == 0) found.push_back(event.substr(prefix.size()));
    return found;
}

std::vector<std::string> process_recorder::runs() const { return events_with("system: "); }

std::vector<std::string> process_recorder::reads() const { return events_with("popen: "); }

bool process_recorder::ran(const std::string &command) const {
    const std::vector<std::string> commands = runs();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

std::string event_sequence(bool rules, size_t from) {
    std::string text;
    for (size_t i = from; i < test_events().size(); ++i) {
        const std::string &event = test_events()[i];
        std::string item = "$";
        if (event.compare(0, 7, "popen: ") == 0) {
            item = "?" + event.substr(7);
        } else if (event.compare(0, 8, "vendor: ") == 0) {
            // Drop the " [family]" at the end, and the rule unless asked for.
            item = event.substr(8, event.rfind(" [") - 8);
            size_t end = item.find(' ', item.find(' ', item.find(' ') + 1) + 1);
            if (!rules && end != std::string::npos) item.erase(end);
        }
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

void agent_test::SetUp() {
    reset_fake_vendor();
    set_vendor_iptables_batch(nullptr);
    test_events().clear();
}

void agent_test::TearDown() { reset_nimbra_config_cache(); }

void agent_test::collect() {
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
}

std::string agent_test::tree_ini() const {
    return "[nimbra_path]\nbase=" + dir / "base" + "\nramdisk=" + dir / "ram" + "\ndata=" + dir / "data" +
           "\ndb=" + dir / "db" + "\nlog=" + dir / "log" + "\n";
}
