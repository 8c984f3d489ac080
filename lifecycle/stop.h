// The stop sequence: undo what start set up. Never stops half-way.
#ifndef NIMBRA_STOP_H
#define NIMBRA_STOP_H

// Always 0. A log directory that holds the agent's install is named on
// stderr and left as it is (lifecycle/install_guard.h).
int stop_agent();

#endif
