#include "tests/test_support.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "firewall/batch.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "util/process.h"

namespace {

process_recorder *g_recorder;

int recorded_run(const char *command) {
    test_events().push_back(std::string("system: ") + command);
    const auto found = g_recorder->status.find(command);
    if (found != g_recorder->status.end()) return found->second;
    return g_recorder->run ? g_recorder->run(command) : 0;
}

FILE *recorded_open(const char *command) {
    test_events().push_back(std::string("popen: ") + command);
    const bool asked = !g_recorder->output.count(command) && g_recorder->answer;
    // An answer is asked anew each time, and kept until the recorder goes.
    std::string &text = asked ? g_recorder->answers.emplace_back(g_recorder->answer(command))
                              : g_recorder->output[command];
    ++g_recorder->open_streams;
    return fmemopen(&text[0], text.size(), "r");
}

int recorded_close(FILE *stream) {
    --g_recorder->open_streams;
    return fclose(stream);
}

const process_runner kRecorder = {recorded_run, recorded_open, recorded_close};

const char *const kSearchPaths[] = {"PATH", "LD_LIBRARY_PATH"};

}  // namespace

// The clock and the kernel's address and process lists, replaced: a unit
// test never waits and sees the addresses it names.
extern "C" unsigned int sleep(unsigned int seconds) {
    test_events().push_back("sleep: " + std::to_string(seconds));
    if (on_sleep()) on_sleep()();
    return 0;
}

std::function<void()> &on_sleep() {
    static std::function<void()> call;
    return call;
}

// Through open: a static link (musl) has no next fopen or opendir for dlsym.
extern "C" FILE *fopen(const char *path, const char *mode) {
    std::string &fixture = if_inet6_fixture();
    if (!fixture.empty() && strcmp(path, "/proc/net/if_inet6") == 0)
        return fmemopen(&fixture[0], fixture.size(), "r");
    const bool update = strchr(mode, '+') != nullptr;
    int flags = update ? O_RDWR : (mode[0] == 'r' ? O_RDONLY : O_WRONLY);
    if (mode[0] == 'w') flags |= O_CREAT | O_TRUNC;
    if (mode[0] == 'a') flags |= O_CREAT | O_APPEND;
    if (strchr(mode, 'e')) flags |= O_CLOEXEC;
    if (strchr(mode, 'x')) flags |= O_EXCL;
    const int fd = open(path, flags, 0666);
    if (fd < 0) return nullptr;
    FILE *file = fdopen(fd, mode);
    if (!file) close(fd);
    return file;
}

// No process list: stop finds no supervisor of the host's to wait for.
extern "C" DIR *opendir(const char *path) {
    if (strcmp(path, "/proc") == 0) {
        errno = ENOENT;
        return nullptr;
    }
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR *dir = fdopendir(fd);
    if (!dir) close(fd);
    return dir;
}

std::string &if_inet6_fixture() {
    static std::string text;
    return text;
}

std::vector<std::string> &test_events() {
    static std::vector<std::string> events;
    return events;
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

void use_config(const temp_dir &dir, const std::string &text) {
    fake_vendor().config_path = dir / "nimbra.ini";
    write_text(fake_vendor().config_path, text);
    reset_nimbra_config_cache();
}

void agent_test::SetUp() {
    reset_fake_vendor();
    if_inet6_fixture().clear();
    on_sleep() = nullptr;
    set_vendor_iptables_batch(nullptr);
    test_events().clear();
    for (size_t i = 0; i < std::size(kSearchPaths); ++i)
        if (const char *value = getenv(kSearchPaths[i])) saved_paths_[i] = value;
}

void agent_test::TearDown() {
    EXPECT_EQ(recorder.open_streams, 0) << "command output streams left open";
    reset_nimbra_config_cache();
    for (size_t i = 0; i < std::size(kSearchPaths); ++i)
        saved_paths_[i] ? setenv(kSearchPaths[i], saved_paths_[i]->c_str(), 1) : unsetenv(kSearchPaths[i]);
}

std::string agent_test::tree_ini() const {
    return "[nimbra_path]\nbase=" + dir / "base" + "\nramdisk=" + dir / "ram" + "\ndata=" + dir / "data" +
           "\ndb=" + dir / "db" + "\nlog=" + dir / "log" + "\n";
}
