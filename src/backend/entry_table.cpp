// The sixteen exported variables of the back-end entry-point table, all
// null at load, and the slot list that binding walks over them.
#include "entry_table.h"

#include <string.h>

#include "zorvan/db2acs.h"
#include "zorvan/trace_texts.h"

extern "C" {
void *db2ACS_handle = nullptr;
db2ACSQueryApiVersion_fn f_db2ACSQueryApiVersion = nullptr;
#define ACS_DEFINE_POINTER(Name, Code, Label, Calling, Params, Args) \
  db2ACS##Name##_fn f_db2ACS##Name = nullptr;
#define ACS_INITIALIZE_ENTRY ACS_DEFINE_POINTER
#define ACS_FORWARDER_ENTRY ACS_DEFINE_POINTER
#include "zorvan/entry_points.def"
}

namespace zorvan {

#define ACS_SLOT(Name, Code, Label, Calling, Params, Args) \
  {ZORVAN_BACKEND_SYMBOL(Name), Label, &f_db2ACS##Name},
#define ACS_INITIALIZE_ENTRY ACS_SLOT
#define ACS_FORWARDER_ENTRY ACS_SLOT
const EntrySlot kEntrySlots[] = {
#include "zorvan/entry_points.def"
};
const size_t kEntrySlotCount = sizeof kEntrySlots / sizeof kEntrySlots[0];

// Every f_ variable is one function pointer, the size of an address;
// copying bytes keeps the conversion free of casts between function and
// object pointers.
void *slotValue(const EntrySlot &slot) {
  void *value;
  memcpy(&value, slot.variable, sizeof value);
  return value;
}

void setSlotValue(const EntrySlot &slot, void *value) {
  memcpy(slot.variable, &value, sizeof value);
}

}  // namespace zorvan
