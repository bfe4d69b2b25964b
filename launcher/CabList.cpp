// CabList: the block reader over "Vorlund.ini", the installable-file test and
// the counting pass. One pass over each block, no allocation per name.
#include "launcher/CabList.h"
#include "base/WideText.h"
#include "common/OrdinaryFile.h"

#include <string.h>  // memchr, which COREDLL exports

namespace vorlund {

const wchar_t kCabListName[] = L"Vorlund.ini";

namespace {

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

// A CR, an LF or the NUL that ends a block's text. Bytes from 14 up, nearly
// all of a list, take one comparison.
bool endsName(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return byte < 14 && (byte == '\r' || byte == '\n' || byte == 0);
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
    // A NUL behind the bytes of a short block: with it every name that
    // nextName scans ends at a CR, an LF or a NUL inside the block (in a
    // full block, at a line break, or keepTail carries the run on).
    if (!reader->full)
        reader->block[length] = 0;
    const char* nul = static_cast<const char*>(memchr(reader->block, 0, length));
    int textEnd = nul != 0 ? static_cast<int>(nul - reader->block) : length;
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

typedef unsigned long Word;
const Word kOnes = ~static_cast<Word>(0) / 255;  // 0x0101...
const Word kTops = kOnes * 0x80;

// Where the name that starts at `at` ends: at the first CR, LF or NUL, which
// nextBlock makes sure is inside the block. *tops gathers the top bits of the
// name's bytes. Whole words are passed over while none of their bytes is
// below 14: subtracting 14 from every byte of such a word borrows into no
// top bit that the byte did not have.
int nameEnd(const char* block, int at, Word* tops)
{
    Word bits = 0;
    for (; at + static_cast<int>(sizeof(Word)) <= device::kReadBlockBytes; at += sizeof(Word)) {
        Word word;
        memcpy(&word, block + at, sizeof word);
        if ((word - kOnes * 14) & ~word & kTops)
            break;
        bits |= word;
    }
    for (; !endsName(block[at]); ++at)
        bits |= static_cast<unsigned char>(block[at]);
    *tops = bits & kTops;
    return at;
}

// Widens a name of `length` bytes into wideName; false when the conversion
// fails. A name without a byte from 0x80 up (no bit in `tops`) reads the
// same in every ANSI code page and is widened here; the device converts the
// others.
bool widen(CabListReader* reader, const char* text, int length, Word tops)
{
    if (tops != 0)
        return device::ansiToWide(text, length, reader->wideName, device::kMaxNameBytes + 1);
    for (int i = 0; i < length; ++i)
        reader->wideName[i] = static_cast<wchar_t>(text[i]);
    reader->wideName[length] = 0;
    return true;
}

// Next name of the current block, or null at its end. Names are widened
// straight from the block; only a name joined across a cut is in `name`.
const wchar_t* nextName(CabListReader* reader)
{
    if (reader->joinedLength > 0) {
        int length = reader->joinedLength;
        reader->joinedLength = 0;
        Word tops = 0;
        for (int i = 0; i < length; ++i)
            tops |= static_cast<unsigned char>(reader->name[i]) & 0x80;
        if (widen(reader, reader->name, length, tops))
            return reader->wideName;
    }
    const char* block = reader->block;
    int end = reader->namesEnd;
    int at = reader->position;
    for (;;) {
        while (at < end && isLineBreak(block[at]))
            ++at;
        if (at >= end)
            break;
        int start = at;
        Word tops;
        at = nameEnd(block, at, &tops);
        int length = at - start;
        if (length <= device::kMaxNameBytes && widen(reader, block + start, length, tops)) {
            reader->position = at;
            return reader->wideName;
        }
    }
    reader->position = at;
    return 0;
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
