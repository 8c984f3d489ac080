// Signals around the commands that change the agent's state: which ones a
// run outlives, and what a run leaves behind when one ends it.
#ifndef NIMBRA_UTIL_SIGNALS_H
#define NIMBRA_UTIL_SIGNALS_H

// From now on SIGHUP (a dropped terminal) and SIGPIPE (the reader of our
// output gone) do not end the process: they are caught and dropped, and a
// write to the closed output fails with EPIPE, which stops nothing. Caught
// rather than ignored: a program started from here gets the default back
// when it execs, where an ignored signal would stay ignored in everything
// it starts, the agent's daemons included. A signal that was ignored when
// the process started (nohup) stays ignored, here and below.
void outlive_hangup();

// Until the matching forget_on_fatal_signal: a terminating signal (SIGINT,
// SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM) first unlinks path, which
// must stay valid meanwhile, then ends the process as the signal would
// have. Nests two deep (a reset's marker, then that of the start it runs).
void remove_on_fatal_signal(const char *path);
void forget_on_fatal_signal();

// Sleeps on when a caught signal interrupts it (to within the second that
// sleep() rounds the rest to).
void sleep_fully(unsigned seconds);

#endif
