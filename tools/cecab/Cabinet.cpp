// Cabinet writing with libgcab into a memory stream or a file, and reading
// with libmspack through an mspack_system over this machine's files, with one
// bounded buffer for the members read into memory; folders stored without
// compression are read at any offset from their data blocks.
#include "tools/cecab/Cabinet.h"

#include <endian.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include <libgcab.h>
#include <mspack.h>

#include "tools/cecab/ByteIo.h"

namespace cecab {

namespace {

// ---- writing ---------------------------------------------------------------------

struct GObjectUnref {
    void operator()(void* object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref>;

std::string takeError(GError* error)
{
    std::string message = error ? error->message : "unknown failure";
    g_clear_error(&error);
    return message;
}

}  // namespace

namespace {

// The members as one folder of a cabinet written to `out`.
bool writeMembers(const std::vector<Member>& members, int64_t unixTime, GOutputStream* out,
                  std::string* error)
{
    // Cabinet dates start in 1980.
    unixTime = std::max<int64_t>(unixTime, 315532800);
    std::unique_ptr<GDateTime, void (*)(GDateTime*)> date(g_date_time_new_from_unix_utc(unixTime),
                                                          g_date_time_unref);
    GPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_NONE));
    GError* failure = nullptr;
    // Relative sources from one current directory: GLib would look it up for each.
    std::unique_ptr<char, void (*)(void*)> here(g_get_current_dir(), g_free);
    for (const Member& m : members) {
        GPtr<GCabFile> file;
        if (m.source.empty()) {
            std::unique_ptr<GBytes, void (*)(GBytes*)> data(
                g_bytes_new(m.data.data(), m.data.size()), g_bytes_unref);
            file.reset(gcab_file_new_with_bytes(m.name.c_str(), data.get()));
        } else {
            std::unique_ptr<char, void (*)(void*)> path(
                g_canonicalize_filename(m.source.c_str(), here.get()), g_free);
            GPtr<GFile> source(g_file_new_for_path(path.get()));
            file.reset(gcab_file_new_with_file(m.name.c_str(), source.get()));
        }
        if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &failure)) {
            *error = m.name + ": " + takeError(failure);
            return false;
        }
        // After adding: adding a file from disk takes its own date.
        gcab_file_set_date_time(file.get(), date.get());
    }
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &failure) ||
        !gcab_cabinet_write_simple(cabinet.get(), out, nullptr, nullptr, nullptr, &failure) ||
        !g_output_stream_close(out, nullptr, &failure)) {
        *error = takeError(failure);
        return false;
    }
    return true;
}

}  // namespace

bool writeCabinet(const std::vector<Member>& members, int64_t unixTime, std::string* bytes,
                  std::string* error)
{
    GPtr<GOutputStream> out(g_memory_output_stream_new_resizable());
    if (!writeMembers(members, unixTime, out.get(), error))
        return false;
    auto* memory = G_MEMORY_OUTPUT_STREAM(out.get());
    bytes->assign(static_cast<const char*>(g_memory_output_stream_get_data(memory)),
                  g_memory_output_stream_get_data_size(memory));
    return true;
}

CabinetFile::CabinetFile(std::string path) : path_(std::move(path)) {}

CabinetFile::~CabinetFile()
{
    if (!partial_.empty())
        std::remove(partial_.c_str());
}

bool CabinetFile::write(const std::vector<Member>& members, int64_t unixTime, std::string* error,
                        bool* outputFailed)
{
    // mkstemp finds a name of its own beside the path; GIO creates the file, as
    // any new file, readable by all the umask allows.
    std::string partial = path_ + ".XXXXXX";
    int fd = mkstemp(partial.data());
    *outputFailed = true;
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    close(fd);
    std::remove(partial.c_str());
    GPtr<GFile> file(g_file_new_for_path(partial.c_str()));
    GError* failure = nullptr;
    GPtr<GFileOutputStream> out(g_file_create(file.get(), G_FILE_CREATE_NONE, nullptr, &failure));
    if (!out) {
        *error = takeError(failure);
        return false;
    }
    partial_ = partial;
    *outputFailed = false;  // a member's file, or the output: the message says which
    return writeMembers(members, unixTime, G_OUTPUT_STREAM(out.get()), error);
}

bool CabinetFile::commit(std::string* error)
{
    if (partial_.empty() || std::rename(partial_.c_str(), path_.c_str()) != 0) {
        *error = partial_.empty() ? "nothing written" : std::strerror(errno);
        return false;
    }
    partial_.clear();
    return true;
}

// ---- reading ---------------------------------------------------------------------

namespace {

// A data block of a folder: where its bytes lie in the file, which bytes of
// the folder they are, and what checks them.
struct Block {
    uint64_t start = 0;  // offset in the folder's bytes
    off_t data = 0;      // offset of its bytes in the file
    uint32_t size = 0;
    uint32_t checksum = 0;  // 0: none
    uint8_t sizes[4] = {};  // its header's two sizes, which the checksum covers
};

// The cabinet checksum of data blocks, seeded with the sum so far: the
// block's little-endian 32-bit words XORed, then the bytes left over.
uint32_t checksum(const uint8_t* p, size_t n, uint32_t sum)
{
    uint32_t words = 0;
    for (; n >= 4; n -= 4, p += 4) {
        uint32_t word;
        std::memcpy(&word, p, 4);
        words ^= word;
    }
    sum ^= le32toh(words);
    uint32_t rest = 0;
    switch (n) {
    case 3:
        rest |= static_cast<uint32_t>(*p++) << 16;
        [[fallthrough]];
    case 2:
        rest |= static_cast<uint32_t>(*p++) << 8;
        [[fallthrough]];
    case 1:
        rest |= *p;
    }
    return sum ^ rest;
}

// A file of this machine, read with pread through a few pages of its own:
// libmspack reads a cabinet's headers a few bytes at a time, seeks back and
// forth, and opens a cabinet again to take a member out of it. Every open of
// one reader shares one of these.
class HostFile {
public:
    explicit HostFile(int fd) : fd_(fd) {}
    ~HostFile() { close(fd_); }
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;

    // Up to `bytes` from `at`; fewer at the end of the file, -1 on a failure.
    ssize_t read(off_t at, void* into, size_t bytes)
    {
        char* out = static_cast<char*>(into);
        size_t done = 0;
        while (done < bytes) {
            off_t pos = at + static_cast<off_t>(done);
            ssize_t n;
            if (bytes - done >= kPage) {  // a large read goes straight through
                n = pread(fd_, out + done, bytes - done, pos);
            } else {
                const Page* p = page(pos - pos % kPage);
                if (!p)
                    return -1;
                n = std::min<ssize_t>(p->size - pos % kPage, bytes - done);
                if (n > 0)
                    std::memcpy(out + done, p->bytes + pos % kPage, static_cast<size_t>(n));
            }
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            done += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(done);
    }
    bool readAll(off_t at, void* into, size_t bytes)
    {
        return read(at, into, bytes) == static_cast<ssize_t>(bytes);
    }

private:
    static const size_t kPage = 4096;
    struct Page {
        off_t at = -1;
        ssize_t size = 0;
        char bytes[kPage];
    };

    const Page* page(off_t at)
    {
        for (Page& p : pages_)
            if (p.at == at)
                return &p;
        Page& p = pages_[next_];
        next_ = (next_ + 1) % 2;
        p.at = -1;
        p.size = pread(fd_, p.bytes, kPage, at);
        if (p.size < 0)
            return nullptr;
        p.at = at;
        return &p;
    }

    int fd_;
    Page pages_[2];
    int next_ = 0;
};

// A folder stored without compression, read at any offset without going
// through the bytes before it, as libmspack does. Its blocks are indexed
// from the first as far as a read needs, and each block read is checked; the
// last one read is kept, as reads of a header come a few bytes at a time. A
// read fails on anything doubtful (a block of an unusual shape, a wrong
// checksum, a short file): the caller then asks libmspack, which says why.
class StoredFolder {
public:
    static const uint32_t kMaxBlock = 0x8000;

    StoredFolder(HostFile* file, off_t first, unsigned blocks, unsigned reserve)
        : file_(file), next_(first), left_(blocks), reserve_(reserve)
    {}

    bool read(uint64_t offset, uint64_t length, char* out)
    {
        if (!indexTo(offset + length))
            return false;
        auto block = std::upper_bound(blocks_.begin(), blocks_.end(), offset,
                                      [](uint64_t at, const Block& b) { return at < b.start; });
        for (--block; length > 0; ++block) {
            if (!load(*block))
                return false;
            uint64_t from = offset - block->start;
            size_t n = static_cast<size_t>(std::min<uint64_t>(length, block->size - from));
            std::memcpy(out, bytes_.get() + from, n);
            out += n;
            offset += n;
            length -= n;
        }
        return true;
    }

private:
    // The blocks' headers read until they cover `end` bytes of the folder.
    bool indexTo(uint64_t end)
    {
        while (end_ < end || blocks_.empty()) {
            uint8_t header[8];
            if (left_ == 0 || !file_->readAll(next_, header, sizeof header))
                return false;
            Block b;
            b.start = end_;
            b.data = next_ + 8 + reserve_;
            b.checksum = static_cast<uint32_t>(header[0] | header[1] << 8 | header[2] << 16 |
                                               static_cast<uint32_t>(header[3]) << 24);
            std::memcpy(b.sizes, header + 4, 4);
            b.size = static_cast<uint32_t>(header[4] | header[5] << 8);
            // Stored bytes are as many as they stand for, at most the 32 KB of a block.
            if (b.size == 0 || b.size > kMaxBlock ||
                b.size != static_cast<uint32_t>(header[6] | header[7] << 8))
                return false;
            blocks_.push_back(b);
            end_ += b.size;
            next_ = b.data + b.size;
            --left_;
        }
        return true;
    }

    // The block's bytes into bytes_, checked.
    bool load(const Block& b)
    {
        if (loaded_ == b.data)
            return true;
        loaded_ = -1;
        if (!bytes_)
            bytes_.reset(new uint8_t[kMaxBlock]);  // not zeroed: it is read into at once
        if (!file_->readAll(b.data, bytes_.get(), b.size) ||
            (b.checksum != 0 &&
             checksum(b.sizes, 4, checksum(bytes_.get(), b.size, 0)) != b.checksum))
            return false;
        loaded_ = b.data;
        return true;
    }

    HostFile* file_;
    off_t next_;     // the file offset of the next block's header
    unsigned left_;  // blocks not yet indexed
    unsigned reserve_;
    uint64_t end_ = 0;
    std::vector<Block> blocks_;
    std::unique_ptr<uint8_t[]> bytes_;  // of the block at loaded_
    off_t loaded_ = -1;
};

// A member of a stored folder, opened as a file of its own (a CAB in a CAB).
struct MemberView {
    StoredFolder* folder = nullptr;
    uint64_t offset = 0;
    uint64_t length = 0;
    bool failed = false;  // a read of the folder failed
};

// The names under which the output buffer and a member view are opened.
const char kMemoryOutput[] = "\x01memory";
const char kMemberInput[] = "\x01member";

// An mspack_system over the files of this machine, plus one bounded buffer
// and one member view. The cabinet it reads is opened once.
struct FileSystem {
    mspack_system base;  // first, so that the library's pointer is ours
    std::string* output = nullptr;
    uint64_t limit = 0;
    MemberView* view = nullptr;
    std::string hostName;
    std::shared_ptr<HostFile> host;
    uint64_t hostSize = 0;
};

struct OpenFile {
    FILE* file = nullptr;        // a file of this machine being written
    std::string* out = nullptr;  // or the output buffer
    uint64_t limit = 0;
    HostFile* host = nullptr;    // or a file of this machine being read
    MemberView* view = nullptr;  // or a member of another cabinet
    uint64_t at = 0;             // the read position
    uint64_t length = 0;         // of what is read
};

OpenFile* readable(FileSystem* s, const char* name)
{
    if (std::strcmp(name, kMemberInput) == 0)
        return s->view ? new OpenFile{nullptr, nullptr, 0, nullptr, s->view, 0, s->view->length}
                       : nullptr;
    if (!s->host || s->hostName != name) {
        int fd = ::open(name, O_RDONLY | O_CLOEXEC);
        struct stat status;
        if (fd < 0 || fstat(fd, &status) != 0) {
            if (fd >= 0)
                close(fd);
            return nullptr;
        }
        s->host = std::make_shared<HostFile>(fd);
        s->hostName = name;
        s->hostSize = static_cast<uint64_t>(status.st_size);
    }
    return new OpenFile{nullptr, nullptr, 0, s->host.get(), nullptr, 0, s->hostSize};
}

mspack_file* openFile(mspack_system* self, const char* name, int mode)
{
    auto* s = reinterpret_cast<FileSystem*>(self);
    if (std::strcmp(name, kMemoryOutput) == 0) {
        if (mode != MSPACK_SYS_OPEN_WRITE || !s->output)
            return nullptr;
        s->output->clear();
        return reinterpret_cast<mspack_file*>(new OpenFile{nullptr, s->output, s->limit});
    }
    if (mode == MSPACK_SYS_OPEN_READ)
        return reinterpret_cast<mspack_file*>(readable(s, name));
    const char* modes[] = {"rb", "wb", "r+b", "ab"};
    if (mode < MSPACK_SYS_OPEN_READ || mode > MSPACK_SYS_OPEN_APPEND)
        return nullptr;
    FILE* file = std::fopen(name, modes[mode]);
    return file ? reinterpret_cast<mspack_file*>(new OpenFile{file, nullptr, 0}) : nullptr;
}

void closeFile(mspack_file* handle)
{
    auto* f = reinterpret_cast<OpenFile*>(handle);
    if (f->file)
        std::fclose(f->file);
    delete f;
}

int readFile(mspack_file* handle, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<OpenFile*>(handle);
    if (bytes < 0 || (!f->view && !f->host))
        return -1;
    uint64_t n = f->at < f->length ? std::min<uint64_t>(bytes, f->length - f->at) : 0;
    if (f->view) {
        if (!f->view->folder->read(f->view->offset + f->at, n, static_cast<char*>(buffer))) {
            f->view->failed = true;
            return -1;
        }
    } else {
        ssize_t got = f->host->read(static_cast<off_t>(f->at), buffer, n);
        if (got < 0)
            return -1;
        n = static_cast<uint64_t>(got);
    }
    f->at += n;
    return static_cast<int>(n);
}

int writeFile(mspack_file* handle, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<OpenFile*>(handle);
    if (bytes < 0 || (!f->file && !f->out))
        return -1;
    if (f->file)
        return std::fwrite(buffer, 1, static_cast<size_t>(bytes), f->file) ==
                       static_cast<size_t>(bytes)
                   ? bytes
                   : -1;
    if (f->out->size() + uint64_t(bytes) > f->limit)
        return -1;
    f->out->append(static_cast<const char*>(buffer), bytes);
    return bytes;
}

int seekFile(mspack_file* handle, off_t offset, int mode)
{
    auto* f = reinterpret_cast<OpenFile*>(handle);
    if (f->view || f->host) {
        off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                     : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(f->at)
                                                   : static_cast<off_t>(f->length);
        if (base + offset < 0)
            return -1;
        f->at = static_cast<uint64_t>(base + offset);
        return 0;
    }
    if (!f->file)
        return -1;
    int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                 : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                               : SEEK_END;
    return fseeko(f->file, offset, whence) == 0 ? 0 : -1;
}

off_t tellFile(mspack_file* handle)
{
    auto* f = reinterpret_cast<OpenFile*>(handle);
    return f->view || f->host ? static_cast<off_t>(f->at)
           : f->file          ? ftello(f->file)
                              : static_cast<off_t>(f->out->size());
}

void quiet(mspack_file*, const char*, ...) {}

void* allocate(mspack_system*, size_t bytes)
{
    return std::malloc(bytes);
}

void copyBytes(void* from, void* to, size_t bytes)
{
    std::memcpy(to, from, bytes);
}

const char* mspackError(int code)
{
    switch (code) {
    case MSPACK_ERR_OPEN:
        return "cannot be opened";
    case MSPACK_ERR_SIGNATURE:
        return "not a cabinet (no MSCF signature)";
    case MSPACK_ERR_DATAFORMAT:
        return "damaged cabinet structure";
    case MSPACK_ERR_CHECKSUM:
        return "checksum mismatch";
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
        return "the cabinet ends early";
    case MSPACK_ERR_WRITE:
        return "larger than allowed, or it cannot be written";
    case MSPACK_ERR_DECRUNCH:
        return "the member's data cannot be unpacked";
    case MSPACK_ERR_NOMEMORY:
        return "out of memory";
    }
    return "cannot be read";
}

const uint16_t kHeaderReserve = 0x0004;    // cfhead_ReserveHeader
const uint16_t kSpanningCabinet = 0x0003;  // cfhead_PrevCabinet | cfhead_NextCabinet

}  // namespace

struct CabinetReader::Library {
    FileSystem system;
    std::string name;
    mscab_decompressor* cabd = nullptr;
    mscabd_cabinet* cabinet = nullptr;
    std::map<const mscabd_folder*, StoredFolder> stored;
    MemberView view;  // a member of another cabinet opened as this one

    ~Library()
    {
        if (cabd && cabinet)
            cabd->close(cabd, cabinet);
        if (cabd)
            mspack_destroy_cab_decompressor(cabd);
    }
    mscabd_file* member(const std::string& name) const
    {
        for (mscabd_file* f = cabinet ? cabinet->files : nullptr; f; f = f->next)
            if (name == f->filename)
                return f;
        return nullptr;
    }
    // The folders stored without compression, found in the cabinet's own
    // header; a cabinet of a set is left to libmspack.
    void findStored()
    {
        HostFile* file = system.host.get();
        uint8_t fixed[40];
        if (!file || cabinet->flags & kSpanningCabinet || cabinet->base_offset != 0 ||
            !file->readAll(0, fixed, sizeof fixed))
            return;
        ByteReader header(fixed, sizeof fixed);
        uint16_t flags = 0, folders = 0, headerReserve = 0;
        header.u16(26, &folders);
        header.u16(30, &flags);
        header.u16(36, &headerReserve);
        bool reserved = flags & kHeaderReserve;
        off_t at = reserved ? 40 + headerReserve : 36;
        unsigned folderReserve = reserved ? fixed[38] : 0, dataReserve = reserved ? fixed[39] : 0;
        const mscabd_folder* folder = cabinet->folders;
        for (unsigned i = 0; i < folders && folder; ++i, folder = folder->next) {
            uint8_t entry[8];
            if (!file->readAll(at + static_cast<off_t>(i * (8 + folderReserve)), entry,
                               sizeof entry))
                return;
            ByteReader e(entry, sizeof entry);
            uint32_t first = 0;
            uint16_t blocks = 0;
            e.u32(0, &first);
            e.u16(4, &blocks);
            if (MSCABD_COMP_METHOD(folder->comp_type) == MSCAB_COMP_NONE &&
                blocks == folder->num_blocks)
                stored.emplace(folder, StoredFolder(file, first, blocks, dataReserve));
        }
    }
    // Reads a member of a stored folder straight from the file; false when
    // it is not in one, or when libmspack should read it and say why not.
    bool readStored(const mscabd_file* f, uint64_t offset, uint64_t length, char* out)
    {
        auto folder = stored.find(f->folder);
        return folder != stored.end() && folder->second.read(f->offset + offset, length, out);
    }
};

CabinetReader::CabinetReader() = default;
CabinetReader::~CabinetReader() = default;

bool CabinetReader::open(const std::string& path, std::string* error)
{
    library_ = std::make_unique<Library>();
    library_->name = path;  // libmspack keeps the name, to open the file again
    return openAs(library_->name.c_str(), error);
}

bool CabinetReader::openMember(CabinetReader& outer, const std::string& name, std::string* error)
{
    library_ = std::make_unique<Library>();
    mscabd_file* f = outer.library_ ? outer.library_->member(name) : nullptr;
    auto folder = f ? outer.library_->stored.find(f->folder) : outer.library_->stored.end();
    if (!f || folder == outer.library_->stored.end()) {
        library_->view.failed = true;
        *error = name + ": not in a folder stored without compression";
        return false;
    }
    library_->view = {&folder->second, f->offset, f->length, false};
    library_->system.view = &library_->view;
    return openAs(kMemberInput, error);
}

bool CabinetReader::memberUnreadable() const
{
    return library_ && library_->view.failed;
}

bool CabinetReader::openAs(const char* name, std::string* error)
{
    int selftest = MSPACK_ERR_OK;
    MSPACK_SYS_SELFTEST(selftest);
    if (selftest != MSPACK_ERR_OK) {
        *error = "libmspack does not match this build";
        return false;
    }
    mspack_system* system = &library_->system.base;
    *system = {openFile, closeFile, readFile,  writeFile, seekFile, tellFile,
               quiet,    allocate,  std::free, copyBytes, nullptr};
    // A file shorter than a cabinet's header is refused by its first bytes,
    // as a longer one is: no cabinet.
    mspack_file* file = openFile(system, name, MSPACK_SYS_OPEN_READ);
    if (!file) {
        *error = mspackError(MSPACK_ERR_OPEN);
        return false;
    }
    char signature[4] = {};
    int got = readFile(file, signature, sizeof signature);
    closeFile(file);
    if (got >= 0 && (got < 4 || std::memcmp(signature, "MSCF", 4) != 0)) {
        *error = mspackError(MSPACK_ERR_SIGNATURE);
        return false;
    }
    library_->cabd = mspack_create_cab_decompressor(system);
    if (!library_->cabd) {
        *error = "libmspack cannot start";
        return false;
    }
    library_->cabinet = library_->cabd->open(library_->cabd, name);
    if (!library_->cabinet) {
        *error = mspackError(library_->cabd->last_error(library_->cabd));
        return false;
    }
    if (!library_->system.view)
        library_->findStored();
    entries_.clear();
    for (mscabd_file* f = library_->cabinet->files; f; f = f->next)
        entries_.push_back({f->filename, f->length});
    return true;
}

bool CabinetReader::extract(const std::string& name, uint64_t limit, std::string* data,
                            std::string* error)
{
    mscabd_file* f = library_ ? library_->member(name) : nullptr;
    if (!f) {
        *error = name + ": no such member";
        return false;
    }
    if (f->length > limit) {
        *error = name + ": " + std::to_string(f->length) + " bytes, more than the " +
                 std::to_string(limit) + " read here";
        return false;
    }
    data->resize(f->length);
    if (library_->readStored(f, 0, f->length, data->data()))
        return true;
    library_->system.output = data;
    library_->system.limit = limit;
    int result = library_->cabd->extract(library_->cabd, f, kMemoryOutput);
    library_->system.output = nullptr;
    if (result != MSPACK_ERR_OK) {
        *error = name + ": " + mspackError(library_->cabd->last_error(library_->cabd));
        return false;
    }
    return true;
}

bool CabinetReader::extractTo(const std::string& name, const std::string& path, std::string* error)
{
    mscabd_file* f = library_ ? library_->member(name) : nullptr;
    if (!f || library_->cabd->extract(library_->cabd, f, path.c_str()) != MSPACK_ERR_OK) {
        *error = name + ": " +
                 (f ? mspackError(library_->cabd->last_error(library_->cabd)) : "no such member");
        return false;
    }
    return true;
}

}  // namespace cecab
