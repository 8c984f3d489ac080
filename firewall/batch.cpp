#include "firewall/batch.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "util/process.h"

namespace {

const char *const kTables[] = {"filter", "nat", "mangle"};
constexpr size_t kTableCount = sizeof(kTables) / sizeof(kTables[0]);

// The listings the rule sets look at, by family and table.
const char *const kListings[2][kTableCount] = {
    {"iptables -S", "iptables -t nat -S", "iptables -t mangle -S"},
    {"ip6tables -S", "ip6tables -t nat -S", "ip6tables -t mangle -S"},
};

const char *const kBuiltinChains[] = {"INPUT", "FORWARD", "OUTPUT", "PREROUTING", "POSTROUTING"};

struct change {
    ip_family family;
    size_t table;
    const char *operation;
    const char *chain;
    char *rule;  // owned; nullptr for none
};

struct batch {
    bool open;
    change *changes;
    size_t count, capacity;
    // The kernel's listing of each table, in "-S" form, as it was when the
    // batch first needed the family; nullptr until then.
    char *listings[2][kTableCount];
};

batch g_batch;
nimbra_run_iptables_batch_fn g_entry;
bool g_looked_up;

int table_index(const char *table) {
    for (size_t i = 0; i < kTableCount; ++i)
        if (strcmp(kTables[i], table) == 0) return static_cast<int>(i);
    return -1;
}

// Each table of the family as "iptables -t TABLE -S" would list it ("-P",
// "-N" and "-A" lines), from one "iptables-save" instead of a listing per
// table. A table the save does not show is empty.
void load_family(ip_family family) {
    FILE *tables[kTableCount];
    size_t sizes[kTableCount];
    for (size_t t = 0; t < kTableCount; ++t)
        tables[t] = open_memstream(&g_batch.listings[family][t], &sizes[t]);
    FILE *in = open_command(family == FAMILY_IPV6 ? "ip6tables-save" : "iptables-save");
    char *line = nullptr;
    size_t capacity = 0;
    int table = -1;
    while (in && getline(&line, &capacity, in) > 0) {
        line[strcspn(line, "\n")] = '\0';
        FILE *out = table >= 0 ? tables[table] : nullptr;
        if (line[0] == '*') {
            table = table_index(line + 1);
        } else if (out && line[0] == ':') {
            // ":CHAIN POLICY [packets:bytes]"; "-" is a user chain's policy.
            char chain[64], policy[32];
            if (sscanf(line + 1, "%63s %31s", chain, policy) != 2) continue;
            if (strcmp(policy, "-") == 0)
                fprintf(out, "-N %s\n", chain);
            else
                fprintf(out, "-P %s %s\n", chain, policy);
        } else if (out && strncmp(line, "-A ", 3) == 0) {
            fprintf(out, "%s\n", line);
        }
    }
    free(line);
    if (in) close_command(in);
    for (FILE *out : tables) fclose(out);
}

const char *listing_of(ip_family family, size_t table) {
    if (!g_batch.listings[family][0]) load_family(family);
    const char *listing = g_batch.listings[family][table];
    return listing ? listing : "";
}

// How a rule is looked for: as the listing test of the one-by-one path
// does (a line containing the text), or as the kernel finds a rule to
// delete (the whole line).
enum class match { contains, whole };

bool line_matches(const char *line, size_t length, const char *needle, match how) {
    const size_t needle_length = strlen(needle);
    if (how == match::whole) return length == needle_length && memcmp(line, needle, length) == 0;
    return memmem(line, length, needle, needle_length) != nullptr;
}

// Lines of text that match needle.
int count_lines(const char *text, const char *needle, match how) {
    int count = 0;
    for (const char *line = text; *line;) {
        const char *end = strchr(line, '\n');
        const size_t length = end ? static_cast<size_t>(end - line) : strlen(line);
        count += line_matches(line, length, needle, how);
        line += length + (end ? 1 : 0);
    }
    return count;
}

bool is_builtin(const char *chain) {
    for (const char *name : kBuiltinChains)
        if (strcmp(name, chain) == 0) return true;
    return false;
}

bool chain_exists(ip_family family, size_t table, const char *chain) {
    if (is_builtin(chain)) return true;
    for (size_t i = 0; i < g_batch.count; ++i) {
        const change &c = g_batch.changes[i];
        if (c.family == family && c.table == table && strcmp(c.operation, "-N") == 0 &&
            strcmp(c.chain, chain) == 0)
            return true;
    }
    char line[kRuleSize];
    snprintf(line, sizeof(line), "-N %s\n", chain);
    const char *listing = listing_of(family, table);
    // Whole lines only: "-N NIMBRA_NAT" must not stand for NIMBRA_NAT_FILTERED.
    for (const char *hit = strstr(listing, line); hit; hit = strstr(hit + 1, line))
        if (hit == listing || hit[-1] == '\n') return true;
    return false;
}

// Rules of chain in the table, as the batch leaves them, whose "-A" line
// matches needle.
int count_rules(ip_family family, size_t table, const char *chain, const char *needle, match how) {
    int count = count_lines(listing_of(family, table), needle, how);
    for (size_t i = 0; i < g_batch.count; ++i) {
        const change &c = g_batch.changes[i];
        if (c.family != family || c.table != table || strcmp(c.chain, chain) != 0) continue;
        char line[kRuleSize + 64];
        snprintf(line, sizeof(line), "-A %s %s", c.chain, c.rule ? c.rule : "");
        const bool matches = line_matches(line, strlen(line), needle, how);
        if (strcmp(c.operation, "-F") == 0)
            count = 0;
        else if (matches && strcmp(c.operation, "-D") == 0)
            count -= count > 0;
        else if (matches && (strcmp(c.operation, "-A") == 0 || strcmp(c.operation, "-I") == 0))
            ++count;
    }
    return count;
}

bool would_fail(ip_family family, size_t table, const char *operation, const char *chain,
                const char *rule) {
    if (strcmp(operation, "-N") == 0) return chain_exists(family, table, chain);
    if (strcmp(operation, "-D") == 0) {
        // The whole rule: " PREROUTING -j NIMBRA_NAT" is also part of the
        // NIMBRA_NAT_FILTERED hook, and a "-D" of a rule that is not there
        // makes the kernel refuse the whole batch.
        char needle[kRuleSize + 64];
        snprintf(needle, sizeof(needle), "-A %s %s", chain, rule ? rule : "");
        return count_rules(family, table, chain, needle, match::whole) == 0;
    }
    return !chain_exists(family, table, chain);
}

// One family's changes in "iptables-restore --noflush" form, or nullptr
// when it has none.
char *render(ip_family family) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    bool any = false;
    for (size_t table = 0; table < kTableCount; ++table) {
        bool started = false;
        for (size_t i = 0; i < g_batch.count; ++i) {
            const change &c = g_batch.changes[i];
            if (c.family != family || c.table != table) continue;
            if (!started) fprintf(out, "*%s\n", kTables[table]);
            started = any = true;
            // A declaration creates the chain; "-N" would do the same but
            // is not part of every restore dialect.
            if (strcmp(c.operation, "-N") == 0)
                fprintf(out, ":%s - [0:0]\n", c.chain);
            else
                fprintf(out, "%s %s%s%s\n", c.operation, c.chain, c.rule ? " " : "",
                        c.rule ? c.rule : "");
        }
        if (started) fputs("COMMIT\n", out);
    }
    fclose(out);
    if (any) return text;
    free(text);
    return nullptr;
}

void close_batch() {
    for (size_t i = 0; i < g_batch.count; ++i) free(g_batch.changes[i].rule);
    free(g_batch.changes);
    for (auto &family : g_batch.listings)
        for (char *&listing : family) free(listing);
    g_batch = batch{};
}

}  // namespace

nimbra_run_iptables_batch_fn vendor_iptables_batch() {
    if (!g_looked_up) {
        g_entry = reinterpret_cast<nimbra_run_iptables_batch_fn>(
            dlsym(RTLD_DEFAULT, "nimbra_run_iptables_batch"));
        g_looked_up = true;
    }
    return g_entry;
}

void set_vendor_iptables_batch(nimbra_run_iptables_batch_fn batch) {
    g_entry = batch;
    g_looked_up = true;
}

bool begin_firewall_batch() {
    if (!vendor_iptables_batch()) return false;
    close_batch();
    g_batch.open = true;
    return true;
}

bool batch_open() { return g_batch.open; }

int batch_add(const char *table, const char *operation, const char *chain, const char *rule,
              ip_family family) {
    const int index = table_index(table);
    if (index < 0) return -1;
    const size_t t = static_cast<size_t>(index);
    if (would_fail(family, t, operation, chain, rule)) return -1;
    if (g_batch.count == g_batch.capacity) {
        const size_t capacity = g_batch.capacity ? 2 * g_batch.capacity : 64;
        void *grown = realloc(g_batch.changes, capacity * sizeof(change));
        if (!grown) return -1;
        g_batch.changes = static_cast<change *>(grown);
        g_batch.capacity = capacity;
    }
    g_batch.changes[g_batch.count++] = {family, t, operation, chain, rule ? strdup(rule) : nullptr};
    return 0;
}

int batch_listing_contains(const char *listing, const char *needle) {
    if (!g_batch.open || needle[0] != ' ') return -1;
    for (ip_family family : kFamilies) {
        for (size_t table = 0; table < kTableCount; ++table) {
            if (strcmp(kListings[family][table], listing) != 0) continue;
            // Every needle starts with its chain: " CHAIN ...".
            char chain[64];
            snprintf(chain, sizeof(chain), "%.*s", static_cast<int>(strcspn(needle + 1, " ")),
                     needle + 1);
            return count_rules(family, table, chain, needle, match::contains) > 0;
        }
    }
    return -1;
}

int commit_firewall_batch() {
    if (!g_batch.open) return 0;
    g_batch.open = false;
    int result = 0;
    fflush(stdout);
    for (ip_family family : kFamilies) {
        char *text = render(family);
        if (!text) continue;
        if (g_entry(text, family) < 0) {
            fprintf(stderr, "The %s batch was refused; applying its changes one at a time\n",
                    family == FAMILY_IPV6 ? "ip6tables" : "iptables");
            for (size_t i = 0; i < g_batch.count; ++i) {
                const change &c = g_batch.changes[i];
                if (c.family == family)
                    nimbra_run_iptables_command(kTables[c.table], c.operation, c.chain, c.rule, family);
            }
            result = -1;
        }
        free(text);
    }
    close_batch();
    return result;
}
