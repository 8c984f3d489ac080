// The JSON writer adding members of random keys and values (escaped, cut)
// to a random text in a heap block of exactly a random capacity: it returns
// the new length, or -1 leaving the text as it was (or cut after its brace).
#include <fuzzer/FuzzedDataProvider.h>
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "util/json.h"

void fuzz_one(const std::string &input) {
    FuzzedDataProvider in(reinterpret_cast<const uint8_t *>(input.data()), input.size());
    std::vector<char> buf(in.ConsumeIntegralInRange<size_t>(1, 5000));
    strncpy(buf.data(), in.ConsumeRandomLengthString(buf.size()).c_str(), buf.size() - 1);
    while (in.remaining_bytes() > 0) {
        const std::string before = buf.data();
        const std::vector<char> key = exact_copy(in.ConsumeRandomLengthString(16));
        const int result = json_add_string(key.data(), exact_copy(in.ConsumeRandomLengthString(5000)).data(),
                                           buf.data(), static_cast<int>(buf.size()));
        const size_t length = strlen(buf.data());
        fuzz_require(result == -1 ? before.compare(0, length, buf.data()) == 0 : result == static_cast<int>(length),
                     "json_add_string gives the new length, or -1 leaving the object");
    }
}
