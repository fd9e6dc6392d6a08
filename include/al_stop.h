// How the runtime library ends the run. A condition of the runtime that
// stops the run (a configuration error, a fatal error of the text support,
// no 4GL user name) ends it through al_stop. The command that uses the
// library installs its own way of ending once at start-up; without one, the
// process exits with the status.
#pragma once

using AlStop = void (*)(int status);

// Installs `stop` (nullptr: exit) and returns the one it replaces.
AlStop al_set_stop(AlStop stop);
// Ends the run with `status`: the installed stop, which does not return.
[[noreturn]] void al_stop(int status);
