// CabList: reads the list file "Vorlund.ini" block by block and hands out its
// CAB names in file order; decides which named CABs take part.
#ifndef VORLUND_CAB_LIST_H
#define VORLUND_CAB_LIST_H

#include "device/DeviceServices.h"

namespace vorlund {

extern const wchar_t kCabListName[];

// CabListReader::carryLength when no name is cut, and when the cut head is
// already too long to be a name.
const int kNoCarry = -1;
const int kCarryTooLong = -2;

// Reads the list in blocks of device::kReadBlockBytes and hands out its names
// across them. A name that a block boundary cuts is completed through the
// carry and belongs to the block in which it ends. Names longer than
// device::kMaxNameBytes are passed over, as are names that cannot be converted
// to wide characters. The list ends after a block shorter than
// kReadBlockBytes, or at a read that fails.
struct CabListReader {
    device::FileHandle file;
    char block[device::kReadBlockBytes];
    int textEnd;   // bytes of text in the block (up to the first NUL)
    int namesEnd;  // names are read from [position, namesEnd)
    int position;
    // The block came from a read of exactly kReadBlockBytes, so the list may
    // go on; true before the first block too, so that it is read.
    bool full;
    // The head of a name that the end of the last full block cut, for the
    // next block to complete: carryLength bytes, or kNoCarry, or
    // kCarryTooLong for a head already longer than any name.
    char carry[device::kMaxNameBytes + 1];
    int carryLength;
    // The length of the block's first name, completed through the carry and
    // waiting in `name`; 0 when there is none.
    int joinedLength;
    char name[device::kMaxNameBytes + 1];
    wchar_t wideName[device::kMaxNameBytes + 1];
};

bool openList(CabListReader* reader, const wchar_t* path);
// The next name of the list as a wide string, reading the next block when
// the names of this one are done; null at the end of the list and on every
// call after it. The text stays valid until the next call on the reader.
const wchar_t* nextListedName(CabListReader* reader);
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

// directory + name into path[device::kMaxLongPath]. A directory (a device
// path) and a listed name always fit (device::kMaxCabPath).
void buildCabPath(wchar_t* path, const wchar_t* directory, const wchar_t* name);

}  // namespace vorlund

#endif
