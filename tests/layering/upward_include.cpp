// Built against the platform layer alone: the imaging layer above it must be
// out of sight, so this include has to fail.
#include "imaging/image.h"

int main() { return 0; }
