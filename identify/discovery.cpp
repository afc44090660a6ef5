#include "identify/discovery.h"
int detectPrinter() { return 0; }
