// The back-end entry-point table as data: one slot per row of the
// entry-point description, in resolution order.
#ifndef ZORVAN_BACKEND_ENTRY_TABLE_H
#define ZORVAN_BACKEND_ENTRY_TABLE_H

#include <stddef.h>

namespace zorvan {

struct EntrySlot {
  const char *symbol;  // back-end symbol, "db2ACSInitializepp"
  const char *label;   // diagnostic line, "f_db2ACSInitialize = %p"
  void *variable;      // address of the f_ pointer that holds it
};

extern const EntrySlot kEntrySlots[];
extern const size_t kEntrySlotCount;

// Reads or writes the function pointer a slot refers to, as an address.
void *slotValue(const EntrySlot &slot);
void setSlotValue(const EntrySlot &slot, void *value);

}  // namespace zorvan

#endif
