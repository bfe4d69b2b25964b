// CabList: reads the list file "Vorlund.ini" block by block and hands out its
// CAB names in file order; decides which named CABs take part.
#ifndef VORLUND_CAB_LIST_H
#define VORLUND_CAB_LIST_H

#include "device/DeviceServices.h"

namespace vorlund {

extern const wchar_t kCabListName[];

// Reads the list in blocks of device::kReadBlockBytes. A name that a block
// boundary cuts is completed through the carry and belongs to the block in
// which it ends. Names longer than device::kMaxNameBytes are passed over, as
// are names that cannot be converted to wide characters.
struct CabListReader {
    device::FileHandle file;
    char block[device::kReadBlockBytes];
    int textEnd;   // bytes of text in the block (up to the first NUL)
    int namesEnd;  // names are read from [position, namesEnd)
    int position;
    bool full;  // the block came from a read of exactly kReadBlockBytes
    // The run that touched the end of the previous full block: the head of
    // a name that the next block completes.
    char carry[device::kMaxNameBytes + 1];
    int carryLength;
    bool carryPending;
    bool carryTooLong;
    // The first name of the block, when it was completed through the carry.
    bool joinedPending;
    bool joinedTooLong;
    char name[device::kMaxNameBytes + 1];
    wchar_t wideName[device::kMaxNameBytes + 1];
};

bool openList(CabListReader* reader, const wchar_t* path);
// Reads the next block. False when the read fails (the list ends there).
bool nextBlock(CabListReader* reader);
// Next name of the current block as a wide string, or null at its end. The
// text stays valid until the next call on the reader.
const wchar_t* nextName(CabListReader* reader);
// Gives up the remaining names of the current block. A cut name at its end
// still belongs to the next block and is handed out there.
void skipRestOfBlock(CabListReader* reader);
bool blockWasFull(const CabListReader* reader);
void closeList(CabListReader* reader);

// True when a search for `path` finds an entry that is neither hidden,
// system nor a directory.
bool isInstallableFile(const wchar_t* path);

// Number of names of the list whose directory + name is installable; 0 when
// the list cannot be opened. The caller's reader is opened on the list and
// closed again: the launcher counts with the reader of its install pass, so
// that one 4096-byte block, not two, is on its stack.
Int32 countInstallableCabs(CabListReader* reader, const wchar_t* directory,
                           const wchar_t* listPath);

// directory + name into path[device::kMaxLongPath]; false when it does not fit.
bool buildCabPath(wchar_t* path, const wchar_t* directory, const wchar_t* name);

}  // namespace vorlund

#endif
