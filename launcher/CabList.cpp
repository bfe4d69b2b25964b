// CabList: the block reader over "Vorlund.ini", the installable-file test and
// the counting pass. One pass over each block, no allocation per name.
#include "launcher/CabList.h"
#include "base/WideText.h"
#include "common/OrdinaryFile.h"

namespace vorlund {

const wchar_t kCabListName[] = L"Vorlund.ini";

namespace {

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

}  // namespace

bool openList(CabListReader* reader, const wchar_t* path)
{
    reader->file = device::openForRead(path);
    reader->namesEnd = 0;
    reader->position = 0;
    reader->full = true;  // the first block is still to be read
    reader->carryLength = kNoCarry;
    reader->joinedLength = 0;
    return reader->file != 0;
}

namespace {

// Joins the carried head of a cut name with the first run of the new block.
// Returns where the names of the block start. A block that is one run
// continues the cut name: keepTail then carries it on, too long.
int joinCarry(CabListReader* reader)
{
    int head = 0;
    while (head < reader->textEnd && !isLineBreak(reader->block[head]))
        ++head;
    int length = reader->carryLength + head;
    bool fits = reader->carryLength != kCarryTooLong && length <= device::kMaxNameBytes;
    if (fits) {
        for (int i = 0; i < reader->carryLength; ++i)
            reader->name[i] = reader->carry[i];
        for (int i = 0; i < head; ++i)
            reader->name[reader->carryLength + i] = reader->block[i];
        reader->name[length] = 0;
    }
    reader->joinedLength = fits ? length : 0;
    reader->carryLength = kNoCarry;
    return head;
}

// Keeps the run that touches the end of a full block in the carry: the next
// block decides whether it is whole (next block starts with a line break or
// is empty) or the head of a longer name.
void keepTail(CabListReader* reader)
{
    int tail = reader->textEnd;
    while (tail > 0 && !isLineBreak(reader->block[tail - 1]))
        --tail;
    int length = reader->textEnd - tail;
    reader->carryLength = length > device::kMaxNameBytes ? kCarryTooLong : length;
    for (int i = 0; i < reader->carryLength; ++i)
        reader->carry[i] = reader->block[tail + i];
    reader->namesEnd = tail;
}

// Reads the next block, once the names of the last one are all handed out;
// false when the read fails (the list ends there).
bool nextBlock(CabListReader* reader)
{
    UInt32 got = 0;
    if (!device::readBytes(reader->file, reader->block, device::kReadBlockBytes, &got) ||
        got > static_cast<UInt32>(device::kReadBlockBytes)) {
        // A cut name whose tail was never read would be a different name:
        // it is dropped with the rest of the list.
        reader->full = false;
        return false;
    }
    int length = static_cast<int>(got);
    reader->full = length == device::kReadBlockBytes;
    int textEnd = 0;
    while (textEnd < length && reader->block[textEnd] != 0)
        ++textEnd;
    reader->textEnd = textEnd;
    // Only text that runs up to the very end of a full block can go on in
    // the next one; a NUL or a short read ends the last name.
    bool runsToEnd = reader->full && textEnd == length;

    reader->position = reader->carryLength != kNoCarry ? joinCarry(reader) : 0;
    reader->namesEnd = textEnd;
    if (runsToEnd && !isLineBreak(reader->block[textEnd - 1]))
        keepTail(reader);
    return true;
}

// Converts the name buffer; false when the conversion fails.
bool convertName(CabListReader* reader, int length)
{
    return device::ansiToWide(reader->name, length + 1, reader->wideName,
                              device::kMaxNameBytes + 1);
}

// Next name of the current block, or null at its end.
const wchar_t* nextName(CabListReader* reader)
{
    if (reader->joinedLength > 0) {
        int length = reader->joinedLength;
        reader->joinedLength = 0;
        if (convertName(reader, length))
            return reader->wideName;
    }
    for (;;) {
        while (reader->position < reader->namesEnd && isLineBreak(reader->block[reader->position]))
            ++reader->position;
        if (reader->position >= reader->namesEnd)
            return 0;
        int start = reader->position;
        while (reader->position < reader->namesEnd && !isLineBreak(reader->block[reader->position]))
            ++reader->position;
        int length = reader->position - start;
        if (length > device::kMaxNameBytes)
            continue;
        for (int i = 0; i < length; ++i)
            reader->name[i] = reader->block[start + i];
        reader->name[length] = 0;
        if (convertName(reader, length))
            return reader->wideName;
    }
}

}  // namespace

const wchar_t* nextListedName(CabListReader* reader)
{
    for (;;) {
        const wchar_t* name = nextName(reader);
        if (name != 0)
            return name;
        if (!blockWasFull(reader) || !nextBlock(reader))
            return 0;
    }
}

void skipRestOfBlock(CabListReader* reader)
{
    reader->joinedLength = 0;
    reader->position = reader->namesEnd;
}

bool blockWasFull(const CabListReader* reader)
{
    return reader->full;
}

void closeList(CabListReader* reader)
{
    device::closeHandle(reader->file);
}

bool isInstallableFile(const wchar_t* path)
{
    return isOrdinaryFile(path);
}

void buildCabPath(wchar_t* path, const wchar_t* directory, const wchar_t* name)
{
    copyText(path, device::kMaxLongPath, directory);
    appendText(path, device::kMaxLongPath, name);
}

Int32 countInstallableCabs(CabListReader* reader, const wchar_t* directory, const wchar_t* listPath)
{
    if (!openList(reader, listPath))
        return 0;
    Int32 count = 0;
    wchar_t path[device::kMaxLongPath];
    for (const wchar_t* name = nextListedName(reader); name != 0; name = nextListedName(reader)) {
        buildCabPath(path, directory, name);
        if (isInstallableFile(path))
            ++count;
    }
    closeList(reader);
    return count;
}

}  // namespace vorlund
