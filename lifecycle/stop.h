// The stop sequence: undo what start set up. Never stops half-way.
#ifndef NIMBRA_STOP_H
#define NIMBRA_STOP_H

// Always 0.
int stop_agent();

#endif
