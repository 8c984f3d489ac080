#include "report/version.h"

#include <stdio.h>
#include <string.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "util/files.h"
#include "util/json.h"

namespace {

constexpr int kJsonCapacity = 1024;
constexpr size_t kVersionBuffer = 64;
// A version is the file's first word.
const char kWordEnd[] = "\n\r ";

struct version_file {
    nimbra_slot slot;
    bool has_fallback;
    nimbra_slot fallback;  // read when slot gives nothing
    const char *key;       // JSON member
    const char *label;     // text line before ": "
};

const version_file kVersionFiles[] = {
    {SLOT_AGENT_VERSION, false, SLOT_AGENT_VERSION, "agent-version", "Nimbra Agent Version"},
    // The database shipped with the agent stands in until one is downloaded.
    {SLOT_DB_VERSION, true, SLOT_DB_VERSION_FALLBACK, "db-version", "Database Version"},
    {SLOT_PLATFORMS_VERSION, false, SLOT_PLATFORMS_VERSION, "platformdb-version", "Platforms Version"},
};

constexpr size_t kVersionCount = sizeof(kVersionFiles) / sizeof(kVersionFiles[0]);

void read_version(const version_file &file, char *text, size_t size) {
    if (read_file(nimbra_file(file.slot), text, size) <= 0 && file.has_fallback)
        read_file(nimbra_file(file.fallback), text, size);
    text[strcspn(text, kWordEnd)] = '\0';
}

}  // namespace

void print_version(int json) {
    char texts[kVersionCount][kVersionBuffer] = {};
    for (size_t i = 0; i < kVersionCount; ++i) read_version(kVersionFiles[i], texts[i], kVersionBuffer);

    if (json) {
        char buffer[kJsonCapacity] = "";
        for (size_t i = 0; i < kVersionCount; ++i)
            json_add_string(kVersionFiles[i].key, texts[i], buffer, sizeof(buffer));
        puts(buffer);
        return;
    }

    puts("\n-------------------------------------------------");
    puts("Nimbra Version Info: ");
    for (size_t i = 0; i < kVersionCount; ++i) printf("%s: %s\n", kVersionFiles[i].label, texts[i]);
}
