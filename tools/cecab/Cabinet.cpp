// Cabinet writing with libgcab into a memory stream, and reading with
// libmspack through an mspack_system whose only files are the cabinet in
// memory and one bounded output buffer.
#include "tools/cecab/Cabinet.h"

#include <algorithm>
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

const char kCabinetFile[] = "cabinet";
const char kOutputFile[] = "member";

struct MemorySystem {
    mspack_system base;  // first, so that the library's pointer is ours
    const std::string* cabinet;
    std::string* output;
    uint64_t limit;
};

struct MemoryFile {
    const std::string* in;  // null for the output
    std::string* out;
    uint64_t limit;
    uint64_t position;
};

mspack_file* openFile(mspack_system* self, const char* name, int mode)
{
    auto* s = reinterpret_cast<MemorySystem*>(self);
    if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, kCabinetFile) == 0)
        return reinterpret_cast<mspack_file*>(new MemoryFile{s->cabinet, nullptr, 0, 0});
    if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kOutputFile) == 0 && s->output) {
        s->output->clear();
        return reinterpret_cast<mspack_file*>(new MemoryFile{nullptr, s->output, s->limit, 0});
    }
    return nullptr;
}

void closeFile(mspack_file* file)
{
    delete reinterpret_cast<MemoryFile*>(file);
}

int readFile(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<MemoryFile*>(file);
    if (!f->in || bytes < 0)
        return -1;
    uint64_t n = std::min<uint64_t>(bytes, f->in->size() - f->position);
    std::memcpy(buffer, f->in->data() + f->position, n);
    f->position += n;
    return static_cast<int>(n);
}

int writeFile(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<MemoryFile*>(file);
    if (!f->out || bytes < 0 || f->out->size() + uint64_t(bytes) > f->limit)
        return -1;
    f->out->append(static_cast<const char*>(buffer), bytes);
    return bytes;
}

int seekFile(mspack_file* file, off_t offset, int mode)
{
    auto* f = reinterpret_cast<MemoryFile*>(file);
    int64_t size = f->in ? f->in->size() : f->out->size();
    int64_t base = mode == MSPACK_SYS_SEEK_START ? 0
                   : mode == MSPACK_SYS_SEEK_CUR ? f->position
                                                 : size;
    int64_t target = base + offset;
    if (target < 0 || target > size)
        return -1;
    f->position = target;
    return 0;
}

off_t tellFile(mspack_file* file)
{
    return static_cast<off_t>(reinterpret_cast<MemoryFile*>(file)->position);
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
        return "a member is larger than allowed";
    case MSPACK_ERR_DECRUNCH:
        return "the member's data cannot be unpacked";
    case MSPACK_ERR_NOMEMORY:
        return "out of memory";
    }
    return "cannot be read";
}

}  // namespace

bool readCabinet(const std::string& bytes, const std::function<bool(const std::string&)>& want,
                 uint64_t maxMemberBytes, std::vector<CabinetEntry>* entries, std::string* error)
{
    int selftest = MSPACK_ERR_OK;
    MSPACK_SYS_SELFTEST(selftest);
    if (selftest != MSPACK_ERR_OK) {
        *error = "libmspack does not match this build";
        return false;
    }
    std::string output;
    MemorySystem system{{openFile, closeFile, readFile, writeFile, seekFile, tellFile, quiet,
                         allocate, std::free, copyBytes, nullptr},
                        &bytes,
                        &output,
                        maxMemberBytes};
    std::unique_ptr<mscab_decompressor, void (*)(mscab_decompressor*)> cabd(
        mspack_create_cab_decompressor(&system.base), mspack_destroy_cab_decompressor);
    if (!cabd) {
        *error = "libmspack cannot start";
        return false;
    }
    mscabd_cabinet* cabinet = cabd->open(cabd.get(), kCabinetFile);
    if (!cabinet) {
        *error = mspackError(cabd->last_error(cabd.get()));
        return false;
    }
    bool ok = true;
    for (mscabd_file* f = cabinet->files; f && ok; f = f->next) {
        CabinetEntry e;
        e.name = f->filename;
        e.size = f->length;
        if (want(e.name)) {
            if (e.size > maxMemberBytes) {
                *error = e.name + ": " + std::to_string(e.size) + " bytes, more than the " +
                         std::to_string(maxMemberBytes) + " read here";
                ok = false;
            } else if (cabd->extract(cabd.get(), f, kOutputFile) != MSPACK_ERR_OK) {
                *error = e.name + ": " + mspackError(cabd->last_error(cabd.get()));
                ok = false;
            } else {
                e.data = output;
                e.extracted = true;
            }
        }
        entries->push_back(std::move(e));
    }
    cabd->close(cabd.get(), cabinet);
    return ok;
}

}  // namespace cecab
