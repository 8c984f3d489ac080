#include "nimbractl/dispatch.h"

int main(int argc, char **argv) { return nimbractl_main(argc, argv); }
