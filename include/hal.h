// Low-level handling of the standard channels: reserving them and
// redirecting them.
#pragma once

// Opens /dev/null onto each of the descriptors 0, 1 and 2 that is closed, so
// that no file opened later takes the number of a standard channel (the log
// would otherwise receive the report). Standard input and standard output
// are opened for reading only: a write to a standard output that the caller
// closed fails (EBADF) and ends the run as a write error. Standard error is
// opened for writing, and its messages are discarded. Called first thing in
// every command.
void HAL_reserve_standard_channels();

// Redirects standard output (kind 'o'), standard error ('e') or standard
// input ('i') to `path`. Returns 0, or -1 when the file cannot be opened.
int HAL_redirect(char kind, const char *path);
