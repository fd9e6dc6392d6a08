// STUB: replaced by the loading sequence.
#include "zel_readobj.h"

void object_info() {}
