// Cabinet reading and writing: members of folders stored without compression
// are read straight from their blocks, whatever the cabinet's shape (several
// folders, reserved fields), without going through the blocks before them,
// and give what libmspack gives; a compressed or damaged member is left to
// libmspack; a CAB inside a CAB opens where it lies; a cabinet written into a
// file replaces it only when whole.
#include <libgcab.h>

#include <random>

#include <gtest/gtest.h>

#include "tests/kit/KitTestSupport.h"
#include "tools/cecab/Cabinet.h"

using namespace cecab;
namespace fs = std::filesystem;
using test::put;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

uint32_t get(const std::string& s, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(s[at + i]);
    return value;
}

// A cabinet of one folder, compressed as asked.
std::string folder(const Files& files, GCabCompression compression)
{
    GCabCabinet* cab = gcab_cabinet_new();
    GCabFolder* folder = gcab_folder_new(compression);
    for (const auto& [name, data] : files) {
        GBytes* bytes = g_bytes_new(data.data(), data.size());
        GCabFile* file = gcab_file_new_with_bytes(name.c_str(), bytes);
        gcab_folder_add_file(folder, file, FALSE, nullptr, nullptr);
        g_object_unref(file);
        g_bytes_unref(bytes);
    }
    gcab_cabinet_add_folder(cab, folder, nullptr);
    GOutputStream* out = g_memory_output_stream_new_resizable();
    gcab_cabinet_write_simple(cab, out, nullptr, nullptr, nullptr, nullptr);
    g_output_stream_close(out, nullptr, nullptr);
    auto* memory = G_MEMORY_OUTPUT_STREAM(out);
    std::string bytes(static_cast<const char*>(g_memory_output_stream_get_data(memory)),
                      g_memory_output_stream_get_data_size(memory));
    g_object_unref(out);
    g_object_unref(folder);
    g_object_unref(cab);
    return bytes;
}

// Bytes reserved in the header, in each folder entry and in each data block's
// header (which the checksums do not cover).
struct Reserve {
    int header, folder, data;
};

// A cabinet of one folder per entry of `folders`, joined from cabinets of one
// folder each (libgcab writes only those), with reserved fields if asked.
std::string cabinet(const std::vector<Files>& folders, GCabCompression compression,
                    Reserve r = {0, 0, 0})
{
    std::vector<std::string> ones;
    size_t filesSize = 0;
    for (const Files& f : folders) {
        ones.push_back(folder(f, compression));
        filesSize += get(ones.back(), 36, 4) - get(ones.back(), 16, 4);
    }
    bool reserved = r.header || r.folder || r.data;
    std::string head = ones[0].substr(0, 36);
    if (reserved) {
        put(&head, 30, get(head, 30, 2) | 0x0004, 2);
        put(&head, 36, r.header, 2);
        put(&head, 38, r.folder, 1);
        put(&head, 39, r.data, 1);
        head += std::string(r.header, '\xAA');
    }
    size_t filesAt = head.size() + folders.size() * (8 + r.folder), dataAt = filesAt + filesSize;
    std::string entries, files, blocks;
    uint32_t count = 0;
    for (size_t f = 0; f < ones.size(); ++f) {
        const std::string& one = ones[f];
        size_t oneFiles = get(one, 16, 4), oneData = get(one, 36, 4);
        std::string entry = one.substr(36, 8) + std::string(r.folder, '\xCC');
        put(&entry, 0, static_cast<uint32_t>(dataAt + blocks.size()), 4);
        entries += entry;
        std::string own = one.substr(oneFiles, oneData - oneFiles);
        for (size_t at = 0; at < own.size(); at = own.find('\0', at + 16) + 1, ++count)
            put(&own, at + 8, static_cast<uint32_t>(f), 2);
        files += own;
        for (size_t at = oneData, n = get(one, 40, 2); n-- > 0; at += 8 + get(one, at + 4, 2))
            blocks += one.substr(at, 8) + std::string(r.data, '\xBB') +
                      one.substr(at + 8, get(one, at + 4, 2));
    }
    std::string cab = head + entries + files + blocks;
    put(&cab, 8, static_cast<uint32_t>(cab.size()), 4);
    put(&cab, 16, static_cast<uint32_t>(filesAt), 4);
    put(&cab, 26, static_cast<uint32_t>(folders.size()), 2);
    put(&cab, 28, count, 2);
    return cab;
}

// Bytes that no other member's bytes repeat.
std::string bytesOf(size_t size, char seed)
{
    std::mt19937 random(static_cast<unsigned>(seed));
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(random());
    return s;
}

const Files kMembers = {{"empty.001", ""},
                        {"one.002", "x"},
                        {"under.003", bytesOf(32767, 'a')},
                        {"block.004", bytesOf(32768, 'b')},
                        {"over.005", bytesOf(32769, 'c')},
                        {"large.006", bytesOf(100000, 'd')}};

}  // namespace

// Each member read whole, last first (libmspack alone would go through the
// folder again for each); a CAB inside opens where it lies when stored; a
// damaged block leaves its member (or a CAB inside) to libmspack, which says
// so, while a member after it in its folder is read without going through it.
TEST(CabinetTest, EveryMemberReadsAsWrittenAndACabInACabOpensWhereItLies)
{
    Files members = kMembers;
    members.push_back({"maps.007", test::ceCab({{"maps.txt", bytesOf(40000, 'm')}}, "Maps")});
    members.push_back({"junk.008", "no cabinet at all"});
    const Files first(members.begin(), members.begin() + 3),
        second(members.begin() + 3, members.end());
    const struct {
        const char* shape;
        std::string bytes;
        bool stored;
    } rows[] = {
        {"one stored folder", cabinet({members}, GCAB_COMPRESSION_NONE), true},
        {"reserved fields everywhere", cabinet({first, second}, GCAB_COMPRESSION_NONE, {6, 3, 5}),
         true},
        {"reserved data fields only", cabinet({members}, GCAB_COMPRESSION_NONE, {0, 0, 9}), true},
        {"compressed (libmspack reads it)", cabinet({members}, GCAB_COMPRESSION_MSZIP), false},
    };
    test::TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shape);
        test::writeFile(dir / "c.cab", row.bytes);
        CabinetReader reader, nested, junk;
        std::string error, data;
        ASSERT_TRUE(reader.open((dir / "c.cab").string(), &error)) << error;
        ASSERT_EQ(reader.entries().size(), members.size());
        for (auto m = members.rbegin(); m != members.rend(); ++m) {
            EXPECT_TRUE(reader.extract(m->first, 1 << 20, &data, &error)) << error;
            EXPECT_EQ(data, m->second) << m->first;
            ASSERT_TRUE(reader.extractTo(m->first, (dir / "x").string(), &error)) << error;
            EXPECT_EQ(test::readFile(dir / "x"), m->second) << m->first;
        }
        EXPECT_FALSE(reader.extract("large.006", 99999, &data, &error));
        EXPECT_EQ(error, "large.006: 100000 bytes, more than the 99999 read here");
        EXPECT_EQ(nested.openMember(reader, "maps.007", &error), row.stored) << error;
        EXPECT_EQ(nested.memberUnreadable(), !row.stored);
        if (!row.stored)
            continue;
        ASSERT_EQ(nested.entries().size(), 2u);
        EXPECT_TRUE(nested.extract(nested.entries()[1].name, 1 << 20, &data, &error));
        EXPECT_EQ(data, bytesOf(40000, 'm'));
        EXPECT_FALSE(junk.openMember(reader, "junk.008", &error));
        EXPECT_FALSE(junk.memberUnreadable());
        EXPECT_EQ(error, "not a cabinet (no MSCF signature)");
        std::string damaged = row.bytes;
        damaged[damaged.find(bytesOf(64, 'b')) + 10] ^= 1;
        test::writeFile(dir / "d.cab", damaged);
        damaged = row.bytes;
        damaged[damaged.rfind("MSCF") + 20] ^= 1;  // in maps.007's own header
        test::writeFile(dir / "n.cab", damaged);
        CabinetReader d, n, inside;
        ASSERT_TRUE(d.open((dir / "d.cab").string(), &error)) << error;
        EXPECT_FALSE(d.extract("block.004", 1 << 20, &data, &error));
        EXPECT_EQ(error, "block.004: checksum mismatch");
        EXPECT_TRUE(d.extract("large.006", 1 << 20, &data, &error)) << error;
        EXPECT_EQ(data, kMembers.back().second);
        ASSERT_TRUE(n.open((dir / "n.cab").string(), &error)) << error;
        EXPECT_FALSE(inside.openMember(n, "maps.007", &error));
        EXPECT_TRUE(inside.memberUnreadable());
    }
}

TEST(CabinetTest, AFileIsReplacedOnlyByAWholeCommittedCabinet)
{
    test::TempDir dir;
    test::writeFile(dir / "src/a.txt", "alpha");
    const std::vector<Member> members = {{"a.001", "", (dir / "src/a.txt").string()},
                                         {"b.002", "beta", ""}};
    const std::string out = (dir / "out.cab").string();
    std::string inMemory, error;
    bool outputFailed = true;
    ASSERT_TRUE(writeCabinet(members, 1000000000, &inMemory, &error)) << error;
    {
        CabinetFile file(out);
        ASSERT_TRUE(file.write(members, 1000000000, &error, &outputFailed)) << error;
        EXPECT_FALSE(fs::exists(out));
        ASSERT_TRUE(file.commit(&error)) << error;
    }
    EXPECT_EQ(test::readFile(out), inMemory);
    // Written but not committed, or failed on a missing source: the old file stays, alone.
    std::vector<Member> missing = members;
    missing.push_back({"c.003", "", (dir / "src/gone.txt").string()});
    for (const auto& written : {members, missing}) {
        CabinetFile file(out);
        EXPECT_EQ(file.write(written, 0, &error, &outputFailed), written.size() == 2);
        EXPECT_FALSE(outputFailed);
    }
    EXPECT_EQ(test::readFile(out), inMemory);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / ""), fs::directory_iterator()), 2);

    CabinetFile nowhere((dir / "no/such/dir.cab").string());
    EXPECT_FALSE(nowhere.write(members, 0, &error, &outputFailed));
    EXPECT_TRUE(outputFailed);
}
