// Text support: character set and locale selection.
#pragma once

using TSSErrorCallback = int (*)(int kind, const char *message);

int TSSsetlocale(const char *name, TSSErrorCallback callback);
int TSSinitialize(TSSErrorCallback callback);
// Set when the character set is ISO 8859-1 outside Unicode mode.
bool TSSis_iso88591();
// Name of the current locale ("" when none is set).
const char *TSScurrent_locale();
// Forgets the loaded definitions (tests only).
void TSSreset();
