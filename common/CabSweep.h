// CabSweep: deletes the CAB files of a directory once they are no longer
// needed. Linked into both the launcher and the setup hook library.
#ifndef VORLUND_CAB_SWEEP_H
#define VORLUND_CAB_SWEEP_H

namespace vorlund {

// `directory` ends with a backslash or is empty. Deletes the "*.cab" entries
// in the order the platform's search returns them; ends at the first hidden
// or system CAB. Entries that cannot be deleted, and entries whose own name
// does not end in ".cab", are passed over.
void sweepCabFiles(const wchar_t* directory);

}  // namespace vorlund

#endif
