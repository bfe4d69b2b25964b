// CabSweep: each round starts a new search for "*.cab" and deletes the first
// CAB it returns, so files go in the platform's search order.
#include "common/CabSweep.h"
#include "base/WideText.h"
#include "common/SharedTexts.h"
#include "device/DeviceServices.h"

namespace vorlund {

namespace {

// Outcome of one round of the sweep.
enum SweepRound {
    kRoundDeleted,     // one CAB was deleted: search again
    kRoundPassedOver,  // one CAB could not be deleted: search again, passing it over
    kRoundOver         // nothing left to delete, or a hidden or system CAB came first
};

// Searches once and handles the first entry that is not passed over.
// `passOver` CAB entries at the front of the search could not be deleted in
// earlier rounds; they keep their place in the search order because they are
// still there. `lastDeleted` is the name deleted by the previous round.
SweepRound sweepOnce(const wchar_t* directory, const wchar_t* pattern, int passOver,
                     wchar_t* lastDeleted)
{
    device::FoundEntry entry;
    device::SearchHandle search = device::findOpen(pattern, &entry);
    if (search == 0)
        return kRoundOver;

    SweepRound result = kRoundOver;
    int skipped = 0;
    for (;;) {
        // Desktop Windows also matches names whose 8.3 alias ends in .CAB
        // ("setup.cabinet"): those are not CAB files and are never deleted.
        bool isCab = endsWithIgnoringCase(entry.name, kCabExtension);
        if (isCab && skipped < passOver) {
            ++skipped;
        } else if (isCab) {
            if ((entry.attributes & (device::kAttrHidden | device::kAttrSystem)) != 0)
                break;  // a hidden or system CAB ends the sweep
            wchar_t path[device::kMaxPath];
            bool fits = copyText(path, device::kMaxPath, directory) &&
                        appendText(path, device::kMaxPath, entry.name);
            // A delete that reports success while the entry stays (another
            // process still has it open) shows up as the same name again.
            bool again = lastDeleted[0] != 0 && textEqual(lastDeleted, entry.name);
            if (fits && !again && device::deleteFile(path)) {
                copyText(lastDeleted, device::kMaxPath, entry.name);
                result = kRoundDeleted;
            } else {
                result = kRoundPassedOver;
            }
            break;
        }
        if (!device::findNext(search, &entry))
            break;
    }
    device::findClose(search);
    return result;
}

}  // namespace

void sweepCabFiles(const wchar_t* directory)
{
    wchar_t pattern[device::kMaxPath];
    if (!copyText(pattern, device::kMaxPath, directory) ||
        !appendText(pattern, device::kMaxPath, kCabPattern))
        return;  // a directory this long holds nothing we could delete by name

    wchar_t lastDeleted[device::kMaxPath];
    lastDeleted[0] = 0;
    int passOver = 0;
    for (;;) {
        SweepRound round = sweepOnce(directory, pattern, passOver, lastDeleted);
        if (round == kRoundOver)
            return;
        if (round == kRoundPassedOver) {
            ++passOver;
            lastDeleted[0] = 0;
        }
    }
}

}  // namespace vorlund
