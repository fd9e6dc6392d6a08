// STUB: replaced by the locale module.
#include "tss.h"

int TSSsetlocale(const char *, TSSErrorCallback) { return 0; }
int TSSinitialize(TSSErrorCallback) { return 0; }
bool TSSis_iso88591() { return true; }
const char *TSScurrent_locale() { return ""; }
void TSSreset() {}
