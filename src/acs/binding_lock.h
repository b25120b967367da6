// The process-wide lock db2ACSInitialize holds while it decides whether the
// back end is bound and binds it: DB2's engine is one process of many
// threads, and two databases may initialise at the same moment.
#ifndef ZORVAN_ACS_BINDING_LOCK_H
#define ZORVAN_ACS_BINDING_LOCK_H

namespace zorvan {

// Not recursive; never held across a call of the back end's entry points.
void lockBinding();
void unlockBinding();

}  // namespace zorvan

#endif
