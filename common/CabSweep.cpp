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
// path[device::kMaxPath] holds the directory; its tail, `tailCapacity`
// characters from `tail` on, takes the pattern for the search and then the
// name of the CAB to delete, so that one buffer serves as both paths.
// `passOver` CAB entries at the front of the search could not be deleted in
// earlier rounds; they keep their place in the search order because they are
// still there. `lastDeleted` is the name deleted by the previous round.
SweepRound sweepOnce(const wchar_t* path, wchar_t* tail, int tailCapacity, int passOver,
                     wchar_t* lastDeleted)
{
    copyText(tail, tailCapacity, kCabPattern);  // it fitted before the first round
    device::FoundEntry entry;
    device::SearchHandle search = device::findOpen(path, &entry);
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
            bool fits = copyText(tail, tailCapacity, entry.name);
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
    wchar_t path[device::kMaxPath];
    if (!copyText(path, device::kMaxPath, directory))
        return;
    int directoryLength = textLength(path);
    wchar_t* tail = path + directoryLength;
    int tailCapacity = device::kMaxPath - directoryLength;
    if (!copyText(tail, tailCapacity, kCabPattern))
        return;  // a directory this long holds nothing we could delete by name

    wchar_t lastDeleted[device::kMaxPath];
    lastDeleted[0] = 0;
    int passOver = 0;
    for (;;) {
        SweepRound round = sweepOnce(path, tail, tailCapacity, passOver, lastDeleted);
        if (round == kRoundOver)
            return;
        if (round == kRoundPassedOver) {
            ++passOver;
            lastDeleted[0] = 0;
        }
    }
}

}  // namespace vorlund
