// The worker contexts this library has handed out and not yet freed. Exports
// that take a context refuse any other value rather than follow it: contexts
// also arrive in window messages, which any program may forge.
#ifndef LIVECONTEXTS_H
#define LIVECONTEXTS_H

struct MurrelContext;

void RememberContext(MurrelContext *context);
void ForgetContext(MurrelContext *context);
bool IsLiveContext(const MurrelContext *context);

#endif
