// Low-level output redirection.
#pragma once

// Redirects standard output (kind 'o'), standard error ('e') or standard
// input ('i') to `path`. Returns 0, or -1 when the file cannot be opened.
int HAL_redirect(char kind, const char *path);
