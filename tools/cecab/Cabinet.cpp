// Cabinet writing with libgcab into a memory stream, and reading with
// libmspack through an mspack_system over this machine's files, with one
// bounded buffer for the members read into memory.
#include "tools/cecab/Cabinet.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <libgcab.h>
#include <mspack.h>

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

bool writeCabinet(const std::vector<Member>& members, int64_t unixTime, std::string* bytes,
                  std::string* error)
{
    // Cabinet dates start in 1980.
    unixTime = std::max<int64_t>(unixTime, 315532800);
    std::unique_ptr<GDateTime, void (*)(GDateTime*)> date(g_date_time_new_from_unix_utc(unixTime),
                                                          g_date_time_unref);
    GPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_NONE));
    GError* failure = nullptr;
    for (const Member& m : members) {
        GPtr<GCabFile> file;
        if (m.source.empty()) {
            std::unique_ptr<GBytes, void (*)(GBytes*)> data(
                g_bytes_new(m.data.data(), m.data.size()), g_bytes_unref);
            file.reset(gcab_file_new_with_bytes(m.name.c_str(), data.get()));
        } else {
            GPtr<GFile> source(g_file_new_for_path(m.source.c_str()));
            file.reset(gcab_file_new_with_file(m.name.c_str(), source.get()));
        }
        if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &failure)) {
            *error = m.name + ": " + takeError(failure);
            return false;
        }
        // After adding: adding a file from disk takes its own date.
        gcab_file_set_date_time(file.get(), date.get());
    }
    GPtr<GOutputStream> out(g_memory_output_stream_new_resizable());
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &failure) ||
        !gcab_cabinet_write_simple(cabinet.get(), out.get(), nullptr, nullptr, nullptr, &failure) ||
        !g_output_stream_close(out.get(), nullptr, &failure)) {
        *error = takeError(failure);
        return false;
    }
    auto* memory = G_MEMORY_OUTPUT_STREAM(out.get());
    bytes->assign(static_cast<const char*>(g_memory_output_stream_get_data(memory)),
                  g_memory_output_stream_get_data_size(memory));
    return true;
}

// ---- reading ---------------------------------------------------------------------

namespace {

// The name under which the one output buffer is opened.
const char kMemoryOutput[] = "\x01memory";

// An mspack_system over the files of this machine, plus one bounded buffer.
struct FileSystem {
    mspack_system base;  // first, so that the library's pointer is ours
    std::string* output = nullptr;
    uint64_t limit = 0;
};

struct OpenFile {
    FILE* file = nullptr;        // a file of this machine
    std::string* out = nullptr;  // or the output buffer
    uint64_t limit = 0;
};

mspack_file* openFile(mspack_system* self, const char* name, int mode)
{
    auto* s = reinterpret_cast<FileSystem*>(self);
    if (std::strcmp(name, kMemoryOutput) == 0) {
        if (mode != MSPACK_SYS_OPEN_WRITE || !s->output)
            return nullptr;
        s->output->clear();
        return reinterpret_cast<mspack_file*>(new OpenFile{nullptr, s->output, s->limit});
    }
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
    if (!f->file || bytes < 0)
        return -1;
    size_t n = std::fread(buffer, 1, static_cast<size_t>(bytes), f->file);
    return n == 0 && std::ferror(f->file) ? -1 : static_cast<int>(n);
}

int writeFile(mspack_file* handle, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<OpenFile*>(handle);
    if (bytes < 0)
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
    return f->file ? ftello(f->file) : static_cast<off_t>(f->out->size());
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

}  // namespace

struct CabinetReader::Library {
    FileSystem system;
    mscab_decompressor* cabd = nullptr;
    mscabd_cabinet* cabinet = nullptr;

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
};

CabinetReader::CabinetReader() = default;
CabinetReader::~CabinetReader() = default;

bool CabinetReader::open(const std::string& path, std::string* error)
{
    int selftest = MSPACK_ERR_OK;
    MSPACK_SYS_SELFTEST(selftest);
    if (selftest != MSPACK_ERR_OK) {
        *error = "libmspack does not match this build";
        return false;
    }
    // A file shorter than a cabinet's header is refused by its first bytes,
    // as a longer one is: no cabinet.
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = mspackError(MSPACK_ERR_OPEN);
        return false;
    }
    char signature[4] = {};
    size_t got = std::fread(signature, 1, sizeof signature, file);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (!failed && (got < sizeof signature || std::memcmp(signature, "MSCF", 4) != 0)) {
        *error = mspackError(MSPACK_ERR_SIGNATURE);
        return false;
    }
    library_ = std::make_unique<Library>();
    library_->system.base = {openFile, closeFile, readFile,  writeFile, seekFile, tellFile,
                             quiet,    allocate,  std::free, copyBytes, nullptr};
    library_->cabd = mspack_create_cab_decompressor(&library_->system.base);
    if (!library_->cabd) {
        *error = "libmspack cannot start";
        return false;
    }
    library_->cabinet = library_->cabd->open(library_->cabd, path.c_str());
    if (!library_->cabinet) {
        *error = mspackError(library_->cabd->last_error(library_->cabd));
        return false;
    }
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
