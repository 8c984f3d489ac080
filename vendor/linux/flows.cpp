// A generic Linux router has no hardware flow accelerator to drive, so the
// flow list is honestly empty and there is never a flow to raise.
#include "nimbra_vendor.h"

#include <stdlib.h>

struct nimbra_hw_flow *nimbra_get_hw_flows(int *count) {
    if (!count) return nullptr;
    *count = 0;
    // The caller frees the block even when it holds no record.
    return static_cast<struct nimbra_hw_flow *>(malloc(1));
}

int nimbra_raise_hw_flow(struct nimbra_hw_flow *) { return -1; }

int nimbra_flush_hw_flows(void) { return 0; }
