// The worker contexts this library has handed out and not yet freed. Exports
// that take a context refuse any other value rather than follow it: contexts
// also arrive in window messages, which any program may forge.
#ifndef LIVECONTEXTS_H
#define LIVECONTEXTS_H

struct MurrelContext;

void RememberContext(MurrelContext *context);
// False when the context was not live (already forgotten).
bool ForgetContext(MurrelContext *context);
bool IsLiveContext(const MurrelContext *context);
// Adds a hold (see MurrelContext::holds) to a context that is live, under
// the same lock QMR_Destroy's ForgetContext takes; false for any other.
bool HoldLiveContext(MurrelContext *context);

#endif
