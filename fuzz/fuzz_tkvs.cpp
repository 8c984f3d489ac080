// The INI store on a file holding the input, asked for each of the input's
// first lines as a key (the seeds put theirs first, where the store drops
// it): only an empty file fails to load, a value is cut at its first ";".
#include <stdlib.h>
#include <string.h>

#include <sstream>

#include "fuzz/fuzz_support.h"
#include "libraries/nimbracfg/tkvs.h"

void fuzz_one(const std::string &input) {
    const std::string path = fuzz_dir() + "/fuzz.ini";
    write_bytes(path, input);
    tkvs_handle *handle = tkvs_init(path.c_str());
    // "/" stands for a directory in the file's place (write_bytes).
    fuzz_require((handle == nullptr) == (input.empty() || input == "/"), "only an empty file fails to load");
    std::istringstream lines(input);
    std::string line;
    for (int n = 0; handle && n < 16 && std::getline(lines, line); ++n) {
        const std::vector<char> key = exact_copy(line);
        char *value = tkvs_get_config(handle, key.data());
        fuzz_require(!value || !strchr(value, ';'), "a value is cut at its first ';'");
        free(value);
        tkvs_free_list(tkvs_get_multi_value(handle, key.data()));
    }
    tkvs_release(handle);
}
